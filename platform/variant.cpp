#include "platform/variant.h"

#include <utility>

#include "platform/error.h"

namespace wendrix {

Variant Variant::Integer(int16_t v) { Variant r; r.type_ = VarType::Integer; r.i_ = v; return r; }
Variant Variant::Long(int32_t v) { Variant r; r.type_ = VarType::Long; r.i_ = v; return r; }
Variant Variant::Single(float v) { Variant r; r.type_ = VarType::Single; r.d_ = v; return r; }
Variant Variant::Double(double v) { Variant r; r.type_ = VarType::Double; r.d_ = v; return r; }
Variant Variant::Cy(Currency v) { Variant r; r.type_ = VarType::Currency; r.i_ = v.ten_thousandths; return r; }
Variant Variant::String(std::string utf8) { Variant r; r.type_ = VarType::String; r.s_ = std::move(utf8); return r; }
Variant Variant::ErrorCode(int32_t scode) { Variant r; r.type_ = VarType::Error; r.i_ = scode; return r; }
Variant Variant::Bool(Boolean v) { Variant r; r.type_ = VarType::Boolean; r.i_ = v; return r; }

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case VarType::Single:
    case VarType::Double:
      return a.d_ == b.d_;
    case VarType::String:
      return a.s_ == b.s_;
    default:
      return a.i_ == b.i_;
  }
}

// TODO(build): coercions not built yet.
Boolean Variant::ToBoolean() const { throw Error(errc::TypeMismatch); }
int16_t Variant::ToInteger() const { throw Error(errc::TypeMismatch); }
int32_t Variant::ToLong() const { throw Error(errc::TypeMismatch); }
double Variant::ToDouble() const { throw Error(errc::TypeMismatch); }
bool NumericEquals(const Variant&, double) { return false; }
bool ParseNumber(const std::string&, double&) { return false; }
double RoundHalfEven(double v) { return v; }
Currency CurrencyFromDouble(double) { return {}; }
double CurrencyToDouble(Currency v) { return static_cast<double>(v.ten_thousandths) / 10000.0; }

}  // namespace wendrix
