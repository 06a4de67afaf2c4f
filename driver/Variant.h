// The driver's value type: empty, integer, double, Boolean or (GBK) string, with the
// comparison and conversion rules the host's variants follow.
#pragma once
#include <cstdint>
#include <string>

#include "driver/records.h"

namespace korvel {

class Variant {
 public:
  enum class Kind : uint8_t { Empty, Int, Double, Bool, String };

  Variant() = default;
  Variant(int v) : kind_(Kind::Int), i_(v) {}
  Variant(int64_t v) : kind_(Kind::Int), i_(v) {}
  Variant(double v) : kind_(Kind::Double), d_(v) {}
  Variant(bool v) : kind_(Kind::Bool), i_(v ? 1 : 0) {}
  Variant(std::string v) : kind_(Kind::String), s_(std::move(v)) {}
  Variant(const char* v) : kind_(Kind::String), s_(v ? v : "") {}

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
  // numbers (of any width, Booleans as -1/0) with the same value.
  friend bool operator==(const Variant& a, const Variant& b);
  friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

  // From and to the host's OLE variant (strings are not owned by the OLE side here).
  static Variant fromOle(const OleVariant& v);

 private:
  Kind kind_ = Kind::Empty;
  int64_t i_ = 0;
  double d_ = 0;
  std::string s_;
};

}  // namespace korvel
