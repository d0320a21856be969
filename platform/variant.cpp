#include "platform/variant.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/error.h"
#include "platform/number_text.h"

namespace wendrix {

Variant Variant::Make(VarType type, int64_t i, double d, std::string s) {
  Variant r;
  r.type_ = type;
  r.i_ = i;
  r.d_ = d;
  r.s_ = std::move(s);
  return r;
}

Variant Variant::Integer(int16_t v) { return Make(VarType::Integer, v); }
Variant Variant::Long(int32_t v) { return Make(VarType::Long, v); }
Variant Variant::Single(float v) { return Make(VarType::Single, 0, v); }
Variant Variant::Double(double v) { return Make(VarType::Double, 0, v); }
Variant Variant::Cy(Currency v) { return Make(VarType::Currency, v.ten_thousandths); }
Variant Variant::String(std::string utf8) { return Make(VarType::String, 0, 0, std::move(utf8)); }
Variant Variant::ErrorCode(int32_t scode) { return Make(VarType::Error, scode); }
Variant Variant::Bool(Boolean v) { return Make(VarType::Boolean, v); }
Variant Variant::Null() { return Make(VarType::Null, 0); }
Variant Variant::Date(double days) { return Make(VarType::Date, 0, days); }
Variant Variant::Dec(const Decimal& v) {
  Variant r = Make(VarType::Decimal, 0);
  r.dec_ = v;
  return r;
}
Variant Variant::OtherInteger(VarType type, int64_t v) { return Make(type, v); }

bool IsOtherIntegerType(VarType type) {
  const auto t = static_cast<uint16_t>(type);
  return t >= static_cast<uint16_t>(VarType::SByte) && t <= static_cast<uint16_t>(VarType::UInt);
}

// As oleaut32 computes it: each part divided by the power of ten (built by repeated
// multiplication), the high part then scaled by 2^64; in a 32-bit x86 process, where it
// computes in the x87's extended precision, that is the whole mantissa divided at once.
double DecimalToDouble(const Decimal& value) {
  double result = 0;
#if defined(__i386__) || defined(_M_IX86)
  {
    long double divisor = 1;
    for (int i = 0; i < value.scale; ++i) divisor *= 10;
    const long double mantissa = static_cast<long double>(value.hi32) * 18446744073709551616.0L +
                                 static_cast<long double>(value.lo64);
    result = static_cast<double>(mantissa / divisor);
    return (value.sign & 0x80) ? -result : result;
  }
#else
  {
    double divisor = 1.0;
    for (int i = 0; i < value.scale; ++i) divisor *= 10.0;
    if (value.sign & 0x80) divisor = -divisor;
    double high = 0.0;
    if (value.hi32 != 0) {
      high = static_cast<double>(value.hi32) / divisor;
      high *= 4294967296.0;
      high *= 4294967296.0;
    }
    result = static_cast<double>(value.lo64) / divisor + high;
  }
#endif
  return result;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return a.d_ == b.d_;
    case VarType::String:
      return a.s_ == b.s_;
    case VarType::Decimal:
      return a.dec_ == b.dec_;
    default:
      return a.i_ == b.i_;
  }
}

namespace {

[[noreturn]] void Fail(number_text::Outcome outcome) {
  throw Error(outcome == number_text::Outcome::Overflow ? errc::Overflow : errc::TypeMismatch);
}

number_text::Number ReadNumber(const std::string& text) {
  number_text::Number number;
  const number_text::Outcome outcome = number_text::Read(text, number);
  if (outcome != number_text::Outcome::Ok) Fail(outcome);
  return number;
}

double DoubleFromText(const std::string& text) {
  double value = 0;
  const number_text::Outcome outcome = number_text::ToDouble(ReadNumber(text), value);
  if (outcome != number_text::Outcome::Ok) Fail(outcome);
  return value;
}

int32_t IntegerFromText(const std::string& text, int bits) {
  int32_t value = 0;
  const number_text::Outcome outcome = number_text::ToInteger(ReadNumber(text), bits, value);
  if (outcome != number_text::Outcome::Ok) Fail(outcome);
  return value;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The words first, in any case but without blanks; then the literal forms; then any number.
Boolean BooleanFromText(const std::string& text) {
  const std::string_view word(text.c_str());  // up to a NUL, as the BSTR is read
  if (EqualsIgnoringCase(word, "True") || word == "#TRUE#") return True;
  if (EqualsIgnoringCase(word, "False") || word == "#FALSE#") return False;
  return DoubleFromText(text) != 0 ? True : False;
}

// A floating-point value fits when it lies within half a unit of the range (the lower bound
// is inclusive: -32768.5 rounds to the even -32768). NaN never fits.
int32_t IntegerFromDouble(double value, int bits) {
  const double lowest = -std::ldexp(1.0, bits - 1);
  const double highest = std::ldexp(1.0, bits - 1) - 1;
  if (!(value >= lowest - 0.5 && value < highest + 0.5)) throw Error(errc::Overflow);
  return static_cast<int32_t>(RoundHalfEven(value));
}

int32_t IntegerFromCurrency(int64_t ten_thousandths, int bits) {
  int64_t whole = ten_thousandths / 10000;
  const int64_t rest = ten_thousandths % 10000;  // carries the sign of the value
  if (rest > 5000 || (rest == 5000 && (whole & 1) != 0)) ++whole;
  if (rest < -5000 || (rest == -5000 && (whole & 1) != 0)) --whole;
  const int64_t lowest = -(int64_t{1} << (bits - 1));
  const int64_t highest = (int64_t{1} << (bits - 1)) - 1;
  if (whole < lowest || whole > highest) throw Error(errc::Overflow);
  return static_cast<int32_t>(whole);
}

int32_t IntegerFromInteger(int64_t value, int bits) {
  if (value < -(int64_t{1} << (bits - 1)) || value >= (int64_t{1} << (bits - 1))) {
    throw Error(errc::Overflow);
  }
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t Variant::ToIntegerOfBits(int bits) const {
  switch (type_) {
    case VarType::Empty:
      return 0;
    case VarType::Integer:
    case VarType::Long:
    case VarType::Boolean:
      return IntegerFromInteger(i_, bits);
    case VarType::Single:
    case VarType::Double:
      return IntegerFromDouble(d_, bits);
    case VarType::Currency:
      return IntegerFromCurrency(i_, bits);
    case VarType::String:
      return IntegerFromText(s_, bits);
    case VarType::Date:
      return IntegerFromDouble(d_, bits);
    case VarType::Decimal:
      return IntegerFromDouble(DecimalToDouble(dec_), bits);
    case VarType::ULongLong:
      if (i_ < 0) throw Error(errc::Overflow);  // above the signed 64-bit range
      return IntegerFromInteger(i_, bits);
    case VarType::SByte:
    case VarType::Byte:
    case VarType::UShort:
    case VarType::ULong:
    case VarType::UInt:
      // An unsigned value of the target's own width converts as its bit pattern (65535 is -1
      // as an Integer), as the platform's coercion does.
      if (bits == (type_ == VarType::UShort ? 16 : 32)) {
        return bits == 16 ? static_cast<int16_t>(i_) : static_cast<int32_t>(i_);
      }
      return IntegerFromInteger(i_, bits);
    case VarType::LongLong:
    case VarType::Int:
      return IntegerFromInteger(i_, bits);
    case VarType::Null:
    case VarType::Error:
      break;
  }
  throw Error(errc::TypeMismatch);
}

Boolean Variant::ToBoolean() const {
  switch (type_) {
    case VarType::Empty:
      return False;
    case VarType::Boolean:
      return boolean();  // kept as stored, even a value other than True or False
    case VarType::Integer:
    case VarType::Long:
    case VarType::Currency:
      return i_ != 0 ? True : False;
    case VarType::Single:
    case VarType::Double:
      return d_ != 0 ? True : False;  // NaN is not zero
    case VarType::String:
      return BooleanFromText(s_);
    case VarType::Date:
      return d_ != 0 ? True : False;
    case VarType::Decimal:
      return dec_.hi32 != 0 || dec_.lo64 != 0 ? True : False;
    case VarType::SByte:
    case VarType::Byte:
    case VarType::UShort:
    case VarType::ULong:
    case VarType::LongLong:
    case VarType::ULongLong:
    case VarType::Int:
    case VarType::UInt:
      return i_ != 0 ? True : False;
    case VarType::Null:
    case VarType::Error:
      break;
  }
  throw Error(errc::TypeMismatch);
}

int16_t Variant::ToInteger() const { return static_cast<int16_t>(ToIntegerOfBits(16)); }

int32_t Variant::ToLong() const { return ToIntegerOfBits(32); }

double Variant::ToDouble() const {
  switch (type_) {
    case VarType::Empty:
      return 0;
    case VarType::Integer:
    case VarType::Long:
    case VarType::Boolean:
      return static_cast<double>(i_);
    case VarType::Single:
    case VarType::Double:
      return d_;
    case VarType::Currency:
      return CurrencyToDouble(currency());
    case VarType::String:
      return DoubleFromText(s_);
    case VarType::Date:
      return d_;
    case VarType::Decimal:
      return DecimalToDouble(dec_);
    case VarType::ULongLong:
      return static_cast<double>(static_cast<uint64_t>(i_));
    case VarType::SByte:
    case VarType::Byte:
    case VarType::UShort:
    case VarType::ULong:
    case VarType::LongLong:
    case VarType::Int:
    case VarType::UInt:
      return static_cast<double>(i_);
    case VarType::Null:
    case VarType::Error:
      break;
  }
  throw Error(errc::TypeMismatch);
}

bool NumericEquals(const Variant& v, double number) {
  switch (v.type()) {
    case VarType::Empty:
      return number == 0;
    case VarType::Integer:
      return v.integer() == number;
    case VarType::Long:
      return v.long_value() == number;
    case VarType::Boolean:
      return v.boolean() == number;
    case VarType::Single:
      return v.single() == number;
    case VarType::Double:
      return v.double_value() == number;
    case VarType::Currency:
      return CurrencyToDouble(v.currency()) == number;
    case VarType::String: {
      double value = 0;
      return ParseNumber(v.string(), value) && value == number;
    }
    case VarType::Date:
    case VarType::Decimal:
    case VarType::SByte:
    case VarType::Byte:
    case VarType::UShort:
    case VarType::ULong:
    case VarType::LongLong:
    case VarType::ULongLong:
    case VarType::Int:
    case VarType::UInt:
      return v.ToDouble() == number;  // never throws for these types
    case VarType::Null:
    case VarType::Error:
      break;
  }
  return false;
}

bool ParseNumber(const std::string& text, double& out) {
  number_text::Number number;
  return number_text::Read(text, number) == number_text::Outcome::Ok &&
         number_text::ToDouble(number, out) == number_text::Outcome::Ok;
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double below = std::floor(value);
  const double fraction = value - below;  // exact
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

namespace {

// Shifts a magnitude right by `shift` bits, rounding to nearest with ties to even.
uint64_t ShiftRightRounding(uint64_t value, int shift) {
  if (shift <= 0) return value;
  if (shift > 64) return 0;  // below a half
  const uint64_t kept = shift == 64 ? 0 : value >> shift;
  const uint64_t dropped = shift == 64 ? value : value & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  return dropped > half || (dropped == half && (kept & 1) != 0) ? kept + 1 : kept;
}

// |value| × 10000 as the x87 computes it in OLE Automation: the exact product rounded to a
// 64-bit significand, then to an integer, both to nearest with ties to even. False when the
// result (with its sign) does not fit in 64 bits.
bool ScaleToTenThousandths(double value, int64_t& out) {
  if (!std::isfinite(value)) return false;
  if (value == 0) {
    out = 0;
    return true;
  }
  int exponent = 0;
  const auto significand =
      static_cast<uint64_t>(std::ldexp(std::frexp(std::fabs(value), &exponent), 53));
  int shift = exponent - 53;  // |value| = significand × 2^shift

  // significand × 10000 (below 2^67) as high:low.
  const uint64_t low_product = (significand & 0xFFFFFFFFu) * 10000;
  const uint64_t high_product = (significand >> 32) * 10000;
  uint64_t low = low_product + (high_product << 32);
  const uint64_t high = (high_product >> 32) + (low < low_product ? 1 : 0);
  if (high != 0) {
    const int extra = 64 - std::countl_zero(high);
    const uint64_t dropped = low & ((uint64_t{1} << extra) - 1);
    const uint64_t half = uint64_t{1} << (extra - 1);
    uint64_t kept = (low >> extra) | (high << (64 - extra));
    shift += extra;
    if (dropped > half || (dropped == half && (kept & 1) != 0)) {
      if (++kept == 0) {  // rounded up to 2^64
        kept = uint64_t{1} << 63;
        ++shift;
      }
    }
    low = kept;
  }

  uint64_t magnitude = 0;
  if (shift >= 0) {
    if (shift >= 64 || low > (std::numeric_limits<uint64_t>::max() >> shift)) return false;
    magnitude = low << shift;
  } else {
    magnitude = ShiftRightRounding(low, -shift);
  }
  const uint64_t limit = (uint64_t{1} << 63) - (value < 0 ? 0 : 1);
  if (magnitude > limit) return false;
  out = value < 0 ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace

Currency CurrencyFromDouble(double value) {
  int64_t ten_thousandths = 0;
  if (!ScaleToTenThousandths(value, ten_thousandths)) throw Error(errc::Overflow);
  return Currency{ten_thousandths};
}

double CurrencyToDouble(Currency v) { return static_cast<double>(v.ten_thousandths) / 10000.0; }

}  // namespace wendrix
