// Numbers written as text, read the way OLE Automation reads them in the US English locale.
//
// This is what a String Variant goes through when it is converted to a number. The reader
// accepts, in this order:
//   - leading blanks, one "+", one "-", one "$" and one "(" in any order;
//   - "&H" followed by hexadecimal digits or "&O" followed by octal digits (not after "$" or a
//     leading "."), or decimal digits with "," anywhere after the first digit, one ".", and one
//     exponent "e"/"E" with any number of signs before its digits;
//   - trailing blanks, ",", "+" and "-" (unless the same sign came first), ")" (closing the
//     "(", which makes the number negative) and "$".
// Nothing else may follow. Blanks are the Unicode spaces (tab, line ends, U+00A0, U+3000, ...).
// The reader keeps the digits exactly; the conversions below decide how they become a number.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace wendrix::number_text {

enum class Outcome { Ok, TypeMismatch, Overflow };

// A number as read: digits × 10^power10, or, for "&H"/"&O", the digits in base 16 or 8.
struct Number {
  std::vector<uint8_t> digits;  // most significant first; no leading zeros; "0" for zero
  int64_t power10 = 0;          // decimal numbers only; trailing zeros are folded into it
  int base_shift = 0;           // 4 for "&H", 3 for "&O", 0 for decimal
  bool negative = false;        // a "-" or parentheses; hexadecimal and octal ignore it
};

// Reads UTF-8 text. TypeMismatch when it is not a number; Overflow only for absurdly long
// hexadecimal or octal text.
Outcome Read(std::string_view utf8, Number& out);

// The number as an integer of `bits` (16 or 32) bits. Decimal numbers round to the nearest
// integer, exact halves to even, and must fit the signed range. Hexadecimal and octal numbers
// are bit patterns: any that fits in `bits` bits is taken as the signed value of those bits
// ("&HFFFF" is -1 as a 16-bit integer and 65535 as a 32-bit one).
Outcome ToInteger(const Number& number, int bits, int32_t& out);

// The number as a double. Decimal numbers are built as OLE Automation builds them (digits
// accumulated in a double, then scaled by powers of ten ten at a time), so results match it to
// the bit rather than being correctly rounded; beyond the double range is Overflow, far below
// it is 0. Hexadecimal and octal numbers up to 0x7FFFFFFF are taken as they are; a larger one
// is negated as a 64-bit integer and taken if the result is at least -2^31, else Overflow (so
// "&H80000000" is -2147483648 and "&HFFFFFFFF" overflows).
Outcome ToDouble(const Number& number, double& out);

}  // namespace wendrix::number_text
