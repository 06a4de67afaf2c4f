// The driver's value type: empty, integer, double, Boolean or (GBK) string, with the
// comparison and conversion rules the host's variants follow.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "driver/records.h"

namespace korvel {

class Variant {
 public:
  enum class Kind : uint8_t { Empty, Int, Double, Bool, String };

  Variant() : i_(0) {}
  Variant(int v) : kind_(Kind::Int), i_(v) {}
  Variant(int64_t v) : kind_(Kind::Int), i_(v) {}
  Variant(double v) : kind_(Kind::Double), d_(v) {}
  Variant(bool v) : kind_(Kind::Bool), i_(v ? 1 : 0) {}
  Variant(std::string v) : kind_(Kind::String), s_(new std::string(std::move(v))) {}
  Variant(const char* v) : kind_(Kind::String), s_(new std::string(v ? v : "")) {}
  Variant(const Variant& o) : kind_(o.kind_) {
    std::memcpy(&i_, &o.i_, sizeof i_);
    if (kind_ == Kind::String) s_ = new std::string(*o.s_);
  }
  Variant(Variant&& o) noexcept : kind_(o.kind_) {
    std::memcpy(&i_, &o.i_, sizeof i_);
    o.kind_ = Kind::Empty;
  }
  Variant& operator=(const Variant& o) {
    if (this != &o) {
      if (o.kind_ == Kind::String && kind_ == Kind::String) {
        *s_ = *o.s_;  // reuse the text's storage
      } else {
        Variant copy(o);
        swap(copy);
      }
    }
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    Variant moved(std::move(o));
    swap(moved);
    return *this;
  }
  ~Variant() {
    if (kind_ == Kind::String) delete s_;
  }
  void swap(Variant& o) noexcept {
    std::swap(kind_, o.kind_);
    unsigned char bits[sizeof i_];  // whichever member is active, its bytes move
    std::memcpy(bits, &i_, sizeof i_);
    std::memcpy(&i_, &o.i_, sizeof i_);
    std::memcpy(&o.i_, bits, sizeof i_);
  }

  // The value becomes the text; a value that holds a text already keeps its storage.
  void setText(std::string_view text) {
    if (kind_ == Kind::String) {
      s_->assign(text);
    } else {
      Variant v{std::string(text)};
      swap(v);
    }
  }
  // True when the value is a string with exactly these bytes.
  bool holdsText(std::string_view text) const { return kind_ == Kind::String && *s_ == text; }

  Kind kind() const { return kind_; }
  bool isEmpty() const { return kind_ == Kind::Empty; }
  bool isNumeric() const { return kind_ == Kind::Int || kind_ == Kind::Double || kind_ == Kind::Bool; }
  bool isString() const { return kind_ == Kind::String; }

  // Numbers as double; a Boolean is -1/0; a string is parsed (ok=false and 0 when not a number).
  double toDouble(bool* ok = nullptr) const;
  // Rounded to the nearest integer (halves to even), as the host's conversions do.
  int64_t toInt(bool* ok = nullptr) const;
  // Non-zero numbers are true; strings "True"/"False" (any case) or numbers.
  bool toBool(bool* ok = nullptr) const;
  // Integers in decimal, doubles with up to 15 significant digits, Booleans "True"/"False".
  std::string toString() const;

  // Values compare equal when both are empty, both strings with the same bytes, or both
  // numbers (of any width, Booleans as -1/0) with the same value; two NaNs are equal.
  // The same kind of number is settled here: the poll's change test runs for every tag.
  friend bool operator==(const Variant& a, const Variant& b) {
    if (a.kind_ == b.kind_) {
      if (a.kind_ == Kind::Int || a.kind_ == Kind::Bool) return a.i_ == b.i_;
      // NaN equals NaN here: a tag that keeps holding NaN has not changed.
      if (a.kind_ == Kind::Double) return a.d_ == b.d_ || (a.d_ != a.d_ && b.d_ != b.d_);
      if (a.kind_ == Kind::Empty) return true;
    }
    return Equal(a, b);
  }
  friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

  // From and to the host's OLE variant (strings are not owned by the OLE side here).
  static Variant fromOle(const OleVariant& v);

 private:
  static bool Equal(const Variant& a, const Variant& b);

  // Sixteen bytes: the tag table keeps three of these per tag, walked on every poll.
  Kind kind_ = Kind::Empty;
  union {
    int64_t i_;
    double d_;
    std::string* s_;  // owned while kind_ is String
  };
};
static_assert(sizeof(double) == sizeof(int64_t) && sizeof(std::string*) <= sizeof(int64_t));

}  // namespace korvel
