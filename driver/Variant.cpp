#include "driver/Variant.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace korvel {
namespace {

bool parse_number(const std::string& s, double& out) {
  if (s.empty()) return false;
  const char* b = s.c_str();
  char* e = nullptr;
  errno = 0;
  out = std::strtod(b, &e);
  while (*e == ' ') ++e;
  return e != b && *e == '\0' && errno != ERANGE && std::isfinite(out);
}

// A host BSTR is UTF-16; the driver keeps GBK.
std::string wide_to_gbk(const char16_t* w) {
  if (w == nullptr) return {};
  std::string utf8;
  for (size_t i = 0; w[i] != 0 && i < 65536; ++i) {
    uint32_t c = w[i];
    if (c >= 0xD800 && c < 0xDC00 && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return plat::utf8_to_gbk(utf8);
}

}  // namespace

double Variant::toDouble(bool* ok) const {
  if (ok) *ok = true;
  switch (kind_) {
    case Kind::Int:
      return static_cast<double>(i_);
    case Kind::Double:
      return d_;
    case Kind::Bool:
      return i_ ? -1.0 : 0.0;
    case Kind::String: {
      double v = 0;
      if (parse_number(*s_, v)) return v;
      if (plat::iequals(*s_, "true")) return -1.0;
      if (plat::iequals(*s_, "false")) return 0.0;
      if (ok) *ok = false;
      return 0;
    }
    case Kind::Empty:
      return 0;
  }
  return 0;
}

int64_t Variant::toInt(bool* ok) const {
  if (kind_ == Kind::Int) {
    if (ok) *ok = true;
    return i_;
  }
  const double d = toDouble(ok);
  if (!(d > -9.2e18 && d < 9.2e18)) {
    if (ok) *ok = false;
    return 0;
  }
  return static_cast<int64_t>(std::nearbyint(d));
}

bool Variant::toBool(bool* ok) const {
  if (ok) *ok = true;
  switch (kind_) {
    case Kind::Int:
    case Kind::Bool:
      return i_ != 0;
    case Kind::Double:
      return d_ != 0;
    case Kind::String: {
      if (plat::iequals(*s_, "true")) return true;
      if (plat::iequals(*s_, "false")) return false;
      double v = 0;
      if (parse_number(*s_, v)) return v != 0;
      if (ok) *ok = false;
      return false;
    }
    case Kind::Empty:
      return false;
  }
  return false;
}

std::string Variant::toString() const {
  char buf[64];
  switch (kind_) {
    case Kind::Int:
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(i_));
      return buf;
    case Kind::Double:
      std::snprintf(buf, sizeof buf, "%.15g", d_);
      return buf;
    case Kind::Bool:
      return i_ ? "True" : "False";
    case Kind::String:
      return *s_;
    case Kind::Empty:
      return {};
  }
  return {};
}

bool Variant::Equal(const Variant& a, const Variant& b) {
  using K = Variant::Kind;
  if (a.kind_ == K::Empty || b.kind_ == K::Empty) return a.kind_ == b.kind_;
  if (a.kind_ == K::String || b.kind_ == K::String) {
    if (a.kind_ == K::String && b.kind_ == K::String) return *a.s_ == *b.s_;
    return false;  // a text and a number are always reported as a change
  }
  if (a.kind_ != K::Double && b.kind_ != K::Double) {
    const int64_t x = a.kind_ == K::Bool ? (a.i_ ? -1 : 0) : a.i_;
    const int64_t y = b.kind_ == K::Bool ? (b.i_ ? -1 : 0) : b.i_;
    return x == y;
  }
  return a.toDouble() == b.toDouble();
}

namespace {

template <class T>
T ole_value(const OleVariant& v) {
  T out{};
  std::memcpy(&out, v.bytes, sizeof out);
  return out;
}

// A DECIMAL overlays the whole variant: scale and sign in the first reserved word, the high
// 32 bits of the magnitude in the other two, the low 64 bits in the value bytes.
double ole_decimal(const OleVariant& v) {
  const unsigned scale = v.reserved1 & 0xFF;
  const bool negative = (v.reserved1 >> 8) & 0x80;
  const uint32_t hi = static_cast<uint32_t>(v.reserved2) | (static_cast<uint32_t>(v.reserved3) << 16);
  double value =
      static_cast<double>(hi) * 18446744073709551616.0 + static_cast<double>(ole_value<uint64_t>(v));
  value /= std::pow(10.0, scale > 28 ? 28 : scale);
  return negative ? -value : value;
}

}  // namespace

// Every numeric type a host may store as an initial value is kept; pointers by reference
// (VT_BYREF) and the other non-value types read as empty.
Variant Variant::fromOle(const OleVariant& v) {
  switch (v.vt) {
    case VT_I1:
      return Variant(static_cast<int>(ole_value<int8_t>(v)));
    case VT_UI1:
      return Variant(static_cast<int>(ole_value<uint8_t>(v)));
    case VT_UI2:
      return Variant(static_cast<int>(ole_value<uint16_t>(v)));
    case VT_INT:
      return Variant(static_cast<int64_t>(ole_value<int32_t>(v)));
    case VT_UI4:
    case VT_UINT:
      return Variant(static_cast<int64_t>(ole_value<uint32_t>(v)));
    case VT_I8:
      return Variant(ole_value<int64_t>(v));
    case VT_UI8: {
      const uint64_t u = ole_value<uint64_t>(v);
      if (u <= static_cast<uint64_t>(INT64_MAX)) return Variant(static_cast<int64_t>(u));
      return Variant(static_cast<double>(u));
    }
    case VT_CY:
      return Variant(static_cast<double>(ole_value<int64_t>(v)) / 10000.0);
    case VT_DATE:
      return Variant(ole_value<double>(v));
    case VT_DECIMAL:
      return Variant(ole_decimal(v));
    case VT_I2:
      return Variant(static_cast<int>(v.iVal));
    case VT_I4:
      return Variant(static_cast<int>(v.lVal));
    case VT_R4:
      return Variant(static_cast<double>(v.fltVal));
    case VT_R8:
      return Variant(v.dblVal);
    case VT_BOOL:
      return Variant(v.boolVal != 0);
    case VT_LPSTR:
      return Variant(v.pszVal);
    case VT_BSTR:
      return Variant(wide_to_gbk(reinterpret_cast<const char16_t*>(v.pszVal)));
    default:
      return Variant();
  }
}

}  // namespace korvel
