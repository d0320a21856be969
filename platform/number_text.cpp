#include "platform/number_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace wendrix::number_text {
namespace {

// Digits beyond this many are not kept; they only move the decimal point.
constexpr size_t kMaxDigits = 1024;
// Exponent digits are accumulated up to this; any larger exponent over- or underflows anyway.
constexpr int64_t kExponentLimit = 100000000;

// The text up to its first NUL (where a BSTR reader stops), as code points. A malformed UTF-8
// sequence becomes U+FFFD, which no part of a number accepts.
std::u32string Decode(std::string_view utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead == 0) break;
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    bool ok = length != 0 && i + length <= utf8.size();
    for (size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && length > 1) ok = c >= kSmallest[length] && c <= 0x10FFFF;
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(c);
    i += length;
  }
  return out;
}

// The characters the reader skips as blanks: the Unicode spaces.
bool IsBlank(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }

int HexLetterValue(char32_t c) {
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a') + 10;
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A') + 10;
  return -1;
}

// The digits of a hexadecimal or octal number as an unsigned 64-bit value. The test is one
// digit conservative at the top, as OLE Automation's is: 16 hex digits of F overflow.
bool BitPattern(const Number& number, uint64_t& out) {
  uint64_t value = 0;
  for (const uint8_t d : number.digits) {
    if (value > (std::numeric_limits<uint64_t>::max() >> number.base_shift) - d) return false;
    value = (value << number.base_shift) + d;
  }
  out = value;
  return true;
}

constexpr std::array<double, 11> kPowersOfTen = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5,
                                                 1e6, 1e7, 1e8, 1e9, 1e10};
// The limits OLE Automation scales against: slightly below DBL_MAX, and the smallest denormal.
constexpr double kLargest = 1.79769313486231470e+308;
constexpr double kSmallest = 4.94065645841246544e-324;

constexpr std::array<double, 11> LargestBefore() {
  std::array<double, 11> a{};
  for (size_t i = 0; i < a.size(); ++i) a[i] = kLargest / kPowersOfTen[i];
  return a;
}
constexpr std::array<double, 11> SmallestBefore() {
  std::array<double, 11> a{};
  for (size_t i = 0; i < a.size(); ++i) a[i] = kSmallest * kPowersOfTen[i];
  return a;
}
// Multiplying by 10^i stays below kLargest when the value is at most kLargestBefore[i];
// dividing by 10^i keeps a value of at least kSmallestBefore[i] above the smallest denormal.
constexpr std::array<double, 11> kLargestBefore = LargestBefore();
constexpr std::array<double, 11> kSmallestBefore = SmallestBefore();

// The 32-bit system library builds a double from text in the x87's registers, the 64-bit one
// in doubles; building it the same way gives the same bits on each (a 32-bit build and the
// library share the process's x87 precision setting).
#if defined(__i386__) || defined(_M_IX86)
using Accumulator = long double;
#else
using Accumulator = double;
#endif

}  // namespace

Outcome Read(std::string_view utf8, Number& out) {
  const std::u32string text = Decode(utf8);
  size_t pos = 0;
  const auto at = [&text](size_t k) -> char32_t { return k < text.size() ? text[k] : 0; };

  Number n;
  bool leading_plus = false, leading_minus = false, currency = false, parens = false;
  bool decimal = false, leading_zero = false;
  // Zeros between the point and the first digit only move the point.
  const auto skip_zeros_after_point = [&] {
    while (at(pos) == '0') {
      leading_zero = true;
      ++pos;
      --n.power10;
    }
  };

  // Leading symbols, each at most once, in any order; a "." ends them.
  for (bool more = true; more;) {
    const char32_t c = at(pos);
    if (c == '.') {
      decimal = true;
      ++pos;
      skip_zeros_after_point();
      more = false;
    } else if (IsBlank(c)) {
      while (IsBlank(at(pos))) ++pos;
    } else if (c == ',') {
      return Outcome::TypeMismatch;  // a thousands separator before any digit
    } else if (c == '+' && !leading_plus) {
      leading_plus = true;
      ++pos;
    } else if (c == '-' && !leading_minus) {
      leading_minus = n.negative = true;
      ++pos;
    } else if (c == '$' && !currency) {
      currency = true;
      ++pos;
    } else if (c == '(' && !parens) {
      parens = true;
      ++pos;
    } else {
      more = false;
    }
  }

  if (!currency && !decimal && at(pos) == '&') {
    const char32_t kind = at(pos + 1);
    if (kind == 'H' || kind == 'h') n.base_shift = 4;
    if (kind == 'O' || kind == 'o') n.base_shift = 3;
    if (n.base_shift != 0) pos += 2;
  }
  while (at(pos) == '0') {
    leading_zero = true;
    ++pos;
  }

  // The digits, with separators, the point and the exponent.
  bool exponent_seen = false, in_exponent = false, exponent_negative = false;
  for (;;) {
    const char32_t c = at(pos);
    if (c == 0) break;
    if (IsDigit(c) && in_exponent) {
      int64_t exponent = 0;
      while (IsDigit(at(pos))) {
        exponent = std::min<int64_t>(exponent * 10 + (at(pos) - '0'), kExponentLimit);
        ++pos;
      }
      n.power10 += exponent_negative ? -exponent : exponent;
      in_exponent = false;
    } else if (IsDigit(c)) {
      if (n.base_shift == 3 && c > '7') break;
      if (n.digits.size() >= kMaxDigits) {
        if (n.base_shift != 0) return Outcome::Overflow;
        if (!decimal) ++n.power10;  // a dropped whole digit still counts as a power of ten
      } else {
        if (decimal) --n.power10;
        n.digits.push_back(static_cast<uint8_t>(c - '0'));
      }
      ++pos;
    } else if (c == ',' && n.base_shift == 0) {
      ++pos;  // thousands separators may stand anywhere after the first digit
    } else if (c == '.' && !decimal && !exponent_seen && n.base_shift == 0) {
      decimal = true;
      ++pos;
      if (n.digits.empty()) skip_zeros_after_point();
    } else if (n.base_shift == 4 && HexLetterValue(c) >= 0) {
      if (n.digits.size() >= kMaxDigits) return Outcome::Overflow;
      n.digits.push_back(static_cast<uint8_t>(HexLetterValue(c)));
      ++pos;
    } else if ((c == 'e' || c == 'E') && !exponent_seen && n.base_shift == 0 && !currency) {
      exponent_seen = in_exponent = true;
      ++pos;
    } else if (in_exponent && c == '+') {
      ++pos;
    } else if (in_exponent && c == '-') {
      exponent_negative = true;
      ++pos;
    } else {
      break;
    }
  }
  if (n.digits.empty() && leading_zero) n.digits.push_back(0);
  if (in_exponent) return Outcome::TypeMismatch;  // "e" without digits
  if (n.base_shift == 0) {
    while (n.digits.size() > 1 && n.digits.back() == 0) {
      n.digits.pop_back();
      ++n.power10;
    }
  }

  // Trailing symbols; a sign that led may not trail as well.
  for (bool more = true; more;) {
    const char32_t c = at(pos);
    if (c == ',' && n.base_shift == 0) {
      ++pos;
    } else if (IsBlank(c)) {
      while (IsBlank(at(pos))) ++pos;
    } else if (c == '+' && !leading_plus) {
      ++pos;
    } else if (c == '-' && !leading_minus) {
      n.negative = true;
      ++pos;
    } else if (c == ')' && parens) {
      n.negative = true;
      ++pos;
    } else if (c == '$' && n.base_shift == 0) {
      ++pos;
    } else {
      more = false;
    }
  }
  // An unclosed "(" is refused unless a minus sign made the number negative anyway.
  if (parens && !n.negative) return Outcome::TypeMismatch;
  if (pos < text.size() || n.digits.empty()) return Outcome::TypeMismatch;

  out = std::move(n);
  return Outcome::Ok;
}

Outcome ToInteger(const Number& number, int bits, int32_t& out) {
  if (number.base_shift != 0) {
    uint64_t pattern = 0;
    if (!BitPattern(number, pattern) || (pattern >> bits) != 0) return Outcome::Overflow;
    out = bits == 16 ? static_cast<int16_t>(pattern) : static_cast<int32_t>(pattern);
    return Outcome::Ok;
  }

  // Anything above this overflows every target, however it is rounded.
  constexpr uint64_t kBeyond = uint64_t{1} << 33;
  const auto count = static_cast<int64_t>(number.digits.size());
  const int64_t whole_count = std::max<int64_t>(0, std::min(count, count + number.power10));
  uint64_t value = 0;
  for (int64_t i = 0; i < whole_count; ++i) {
    value = value * 10 + number.digits[static_cast<size_t>(i)];
    if (value > kBeyond) return Outcome::Overflow;
  }
  for (int64_t i = 0; i < number.power10 && value != 0; ++i) {
    value *= 10;
    if (value > kBeyond) return Outcome::Overflow;
  }
  // The fraction rounds to nearest, an exact half to even. When the kept digits do not reach
  // the point, zeros stand between them and it and the fraction is below 0.1.
  if (number.power10 < 0 && -number.power10 == count - whole_count) {
    const auto first = static_cast<size_t>(whole_count);
    const uint8_t d = number.digits[first];
    const bool more = std::any_of(number.digits.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                                  number.digits.end(), [](uint8_t x) { return x != 0; });
    if (d > 5 || (d == 5 && (more || (value & 1) != 0))) ++value;
  }

  const bool negative = number.negative && value != 0;
  const uint64_t limit = (uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
  if (value > limit) return Outcome::Overflow;
  out = negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
  return Outcome::Ok;
}

Outcome ToDouble(const Number& number, double& out) {
  if (number.base_shift != 0) {
    uint64_t pattern = 0;
    if (!BitPattern(number, pattern)) return Outcome::Overflow;
    if (pattern <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      out = static_cast<double>(pattern);
      return Outcome::Ok;
    }
    const auto negated = static_cast<int64_t>(uint64_t{0} - pattern);
    if (negated < std::numeric_limits<int32_t>::min()) return Outcome::Overflow;
    out = static_cast<double>(negated);
    return Outcome::Ok;
  }

  Accumulator value = 0;
  for (const uint8_t d : number.digits) value = value * 10 + d;
  if (value != 0) {  // zero stays zero however far it is scaled
    int64_t up = std::max<int64_t>(number.power10, 0);
    int64_t down = std::max<int64_t>(-number.power10, 0);
    for (; up > 10; up -= 10) {
      if (value > kLargestBefore[10]) return Outcome::Overflow;
      value *= kPowersOfTen[10];
    }
    if (up > 0) {
      if (value > kLargestBefore[static_cast<size_t>(up)]) return Outcome::Overflow;
      value *= kPowersOfTen[static_cast<size_t>(up)];
    }
    // Far below the double range the value becomes 0 rather than an error.
    for (; down > 10; down -= 10) {
      if (value < kSmallestBefore[10]) {
        value = 0;
        down = 0;
        break;
      }
      value /= kPowersOfTen[10];
    }
    if (down > 0) {
      value = value < kSmallestBefore[static_cast<size_t>(down)]
                  ? 0
                  : value / kPowersOfTen[static_cast<size_t>(down)];
    }
  }
  // More than 308 digits end beyond the double range: that is an overflow, not infinity.
  const auto result = static_cast<double>(value);
  if (!std::isfinite(result)) return Outcome::Overflow;
  out = number.negative ? -result : result;
  return Outcome::Ok;
}

}  // namespace wendrix::number_text
