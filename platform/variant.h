// The OLE Automation value types the control works with, and the coercions it needs.
//
// Boolean is 16 bits, True = -1 and False = 0. Currency is a signed 64-bit count of
// ten-thousandths. Variant is a tagged value with the OLE Automation subtypes a host may hand
// the control (Empty, Null, the signed and unsigned integers of 8 to 64 bits, Single, Double,
// Currency, Date, Decimal, String, Error, Boolean), each kept as the type it came with, and
// converts the way VariantChangeType does in the US English locale:
//   - Empty is 0 and False; a Boolean is its stored value (-1 or 0) as a number;
//   - to Boolean: any nonzero number is True (NaN too); a String is True for "True" and
//     "#TRUE#", False for "False" and "#FALSE#" (the words in any case, without blanks),
//     otherwise it must read as a number;
//   - to Integer and Long: fractions round to the nearest integer, ties to even (2.5 -> 2,
//     -32768.5 -> -32768); a value outside the target's range, infinity and NaN fail with
//     run-time error 6 (Overflow); Currency and String fractions round by their exact
//     decimal value; "&H"/"&O" strings are bit patterns ("&HFFFF" is -1 as an Integer);
//   - a Date converts as the Double it holds, a Decimal through a Double (as oleaut32 does),
//     the other integer types by their exact value, except that an unsigned value of the
//     target's width is taken as its bit pattern (a UShort 65535 is the Integer -1);
//   - Null, an Error value, and a String that is not a number (also "True" to a number), fail
//     with run-time error 13 (Type mismatch).
// Strings are read as platform/number_text.h describes. Strings are UTF-8 inside the core;
// the COM edge converts them from and to BSTRs.
#pragma once

#include <cstdint>
#include <string>

namespace wendrix {

using Boolean = int16_t;
inline constexpr Boolean True = -1;
inline constexpr Boolean False = 0;

// A Currency value: ten-thousandths in a signed 64-bit integer.
struct Currency {
  int64_t ten_thousandths = 0;
  friend bool operator==(Currency, Currency) = default;
  friend auto operator<=>(Currency, Currency) = default;
};

// The Currency nearest to a double, halves to even, as OLE Automation computes it on the x87
// (the product by 10000 first rounded to a 64-bit significand); error 6 when it does not fit.
Currency CurrencyFromDouble(double value);
double CurrencyToDouble(Currency value);

// Rounds to the nearest integer, ties to even (what every conversion to an integer type does).
double RoundHalfEven(double value);

// The variant types, with the numbers OLE Automation gives them (VT_...).
enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,        // VT_NULL
  Integer = 2,     // VT_I2
  Long = 3,        // VT_I4
  Single = 4,      // VT_R4
  Double = 5,      // VT_R8
  Currency = 6,    // VT_CY
  Date = 7,        // VT_DATE: days since 30 December 1899, as a double
  String = 8,      // VT_BSTR
  Error = 10,      // VT_ERROR
  Boolean = 11,    // VT_BOOL
  Decimal = 14,    // VT_DECIMAL
  SByte = 16,      // VT_I1
  Byte = 17,       // VT_UI1
  UShort = 18,     // VT_UI2
  ULong = 19,      // VT_UI4
  LongLong = 20,   // VT_I8
  ULongLong = 21,  // VT_UI8
  Int = 22,        // VT_INT
  UInt = 23,       // VT_UINT
};

// True for the integer types other than Integer, Long and Boolean (SByte ... UInt).
bool IsOtherIntegerType(VarType type);

// A Decimal value: sign x (hi32 x 2^64 + lo64) / 10^scale, scale 0 to 28, as DECIMAL holds it.
struct Decimal {
  uint8_t scale = 0;
  uint8_t sign = 0;  // 0x80: negative
  uint32_t hi32 = 0;
  uint64_t lo64 = 0;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

// A Decimal as a double, computed as oleaut32 computes it.
double DecimalToDouble(const Decimal& value);

class Variant {
 public:
  Variant() = default;  // Empty

  static Variant Integer(int16_t v);
  static Variant Long(int32_t v);
  static Variant Single(float v);
  static Variant Double(double v);
  static Variant Cy(Currency v);
  static Variant String(std::string utf8);
  static Variant ErrorCode(int32_t scode);
  static Variant Bool(Boolean v);
  static Variant Null();
  static Variant Date(double days);
  static Variant Dec(const Decimal& v);
  // One of the other integer types (IsOtherIntegerType) with its value; a ULongLong value is
  // its 64 bits.
  static Variant OtherInteger(VarType type, int64_t v);

  VarType type() const { return type_; }
  bool IsEmpty() const { return type_ == VarType::Empty; }

  // The stored value; each requires the matching type().
  int16_t integer() const { return static_cast<int16_t>(i_); }
  int32_t long_value() const { return static_cast<int32_t>(i_); }
  float single() const { return static_cast<float>(d_); }
  double double_value() const { return d_; }
  Currency currency() const { return Currency{i_}; }
  const std::string& string() const { return s_; }
  int32_t error_code() const { return static_cast<int32_t>(i_); }
  Boolean boolean() const { return static_cast<Boolean>(i_); }
  double date() const { return d_; }
  const Decimal& decimal() const { return dec_; }
  int64_t other_integer() const { return i_; }

  // Coercions as VariantChangeType performs them; throw Error 6 or 13.
  Boolean ToBoolean() const;
  int16_t ToInteger() const;
  int32_t ToLong() const;
  double ToDouble() const;

  // Same type and same value (a strict comparison, for tests and the property bag).
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  static Variant Make(VarType type, int64_t i, double d = 0, std::string s = {});
  int32_t ToIntegerOfBits(int bits) const;  // ToInteger (16) and ToLong (32)

  VarType type_ = VarType::Empty;
  int64_t i_ = 0;  // Integer, Long, Currency, Error, Boolean, the other integer types
  double d_ = 0;   // Single, Double, Date
  Decimal dec_;    // Decimal
  std::string s_;  // String
};

// Numeric equality as a host's "=" between a Variant and a number: Empty counts as 0,
// Boolean as -1/0, a String that reads as a number by its value; any other String and an
// Error value are simply not equal. Never throws.
bool NumericEquals(const Variant& v, double number);

// Parses a string the way OLE Automation reads numbers in the US English locale
// (surrounding blanks, sign, digits with "," thousands separators, decimals, exponent,
// "&H"/"&O" prefixes), to the same double as ToDouble. Returns false when the text is not a
// number or lies beyond the double range.
bool ParseNumber(const std::string& text, double& out);

}  // namespace wendrix
