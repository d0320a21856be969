// The core's Variant coercions against the system's own: every input goes through
// Variant::ToBoolean/ToInteger/ToLong/ToDouble and through oleaut32's VariantChangeTypeEx to
// VT_BOOL, VT_I2, VT_I4 and VT_R8 in the US English locale, and both must give the same value
// or the same error (DISP_E_OVERFLOW is 6, DISP_E_TYPEMISMATCH is 13).
// clang-format off
#include "platform/win32/win_headers.h"  // first: the Windows headers in their order
// clang-format on

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/number_text.h"
#include "platform/variant.h"

namespace wendrix {
namespace {

constexpr LCID kUsEnglish = 0x0409;
enum Target { kBool, kI2, kI4, kR8 };
constexpr VARTYPE kVarTypes[] = {VT_BOOL, VT_I2, VT_I4, VT_R8};
constexpr const char* kTargetNames[] = {"VT_BOOL", "VT_I2", "VT_I4", "VT_R8"};

// A conversion's outcome: a value, or the run-time error number it failed with.
struct Result {
  int error = 0;
  double value = 0;

  bool operator==(const Result& o) const {
    if (error != 0 || o.error != 0) return error == o.error;
    if (std::isnan(value) || std::isnan(o.value)) return std::isnan(value) && std::isnan(o.value);
    return value == o.value && std::signbit(value) == std::signbit(o.value);
  }
};

std::string Describe(const Result& r) {
  if (r.error != 0) return "error " + std::to_string(r.error);
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", r.value);
  return text;
}

void PrintTo(const Result& r, std::ostream* os) { *os << Describe(r); }

std::string Describe(const Variant& v) {
  std::ostringstream out;
  switch (v.type()) {
    case VarType::Empty:
      out << "Empty";
      break;
    case VarType::Integer:
      out << "Integer " << v.integer();
      break;
    case VarType::Long:
      out << "Long " << v.long_value();
      break;
    case VarType::Single:
      out.precision(9);
      out << "Single " << v.single();
      break;
    case VarType::Double:
      out.precision(17);
      out << "Double " << v.double_value();
      break;
    case VarType::Currency:
      out << "Currency " << v.currency().ten_thousandths << "/10000";
      break;
    case VarType::String:
      out << "String \"" << v.string() << "\"";
      break;
    case VarType::Error:
      out << "Error 0x" << std::hex << v.error_code();
      break;
    case VarType::Boolean:
      out << "Boolean " << v.boolean();
      break;
    case VarType::Date:
      out.precision(17);
      out << "Date " << v.date();
      break;
    case VarType::Decimal:
      out << "Decimal sign " << int{v.decimal().sign} << " " << v.decimal().hi32 << ":"
          << v.decimal().lo64 << "/10^" << int{v.decimal().scale};
      break;
    default:
      out << "type " << static_cast<int>(v.type()) << " " << v.other_integer();
      break;
  }
  return out.str();
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

// Owns a VARIANT for the length of one comparison.
class OleVariant {
 public:
  OleVariant() { VariantInit(&v_); }
  explicit OleVariant(const Variant& from) : OleVariant() {
    switch (from.type()) {
      case VarType::Empty:
        break;
      case VarType::Integer:
        V_VT(&v_) = VT_I2;
        V_I2(&v_) = from.integer();
        break;
      case VarType::Long:
        V_VT(&v_) = VT_I4;
        V_I4(&v_) = from.long_value();
        break;
      case VarType::Single:
        V_VT(&v_) = VT_R4;
        V_R4(&v_) = from.single();
        break;
      case VarType::Double:
        V_VT(&v_) = VT_R8;
        V_R8(&v_) = from.double_value();
        break;
      case VarType::Currency:
        V_VT(&v_) = VT_CY;
        V_CY(&v_).int64 = from.currency().ten_thousandths;
        break;
      case VarType::String: {
        const std::wstring wide = Widen(from.string());
        V_VT(&v_) = VT_BSTR;
        V_BSTR(&v_) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        break;
      }
      case VarType::Error:
        V_VT(&v_) = VT_ERROR;
        V_ERROR(&v_) = from.error_code();
        break;
      case VarType::Boolean:
        V_VT(&v_) = VT_BOOL;
        V_BOOL(&v_) = from.boolean();
        break;
      case VarType::Null:
        V_VT(&v_) = VT_NULL;
        break;
      case VarType::Date:
        V_VT(&v_) = VT_DATE;
        V_DATE(&v_) = from.date();
        break;
      case VarType::Decimal:
        V_DECIMAL(&v_).scale = from.decimal().scale;
        V_DECIMAL(&v_).sign = from.decimal().sign;
        V_DECIMAL(&v_).Hi32 = from.decimal().hi32;
        V_DECIMAL(&v_).Lo64 = from.decimal().lo64;
        V_VT(&v_) = VT_DECIMAL;
        break;
      default:  // the other integer types: the value's low bytes, whatever their width
        V_VT(&v_) = static_cast<VARTYPE>(from.type());
        V_I8(&v_) = from.other_integer();
        break;
    }
  }
  ~OleVariant() { VariantClear(&v_); }
  OleVariant(const OleVariant&) = delete;
  OleVariant& operator=(const OleVariant&) = delete;
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

Result FromHResult(HRESULT hr) {
  if (hr == DISP_E_OVERFLOW) return {errc::Overflow, 0};
  if (hr == DISP_E_TYPEMISMATCH) return {errc::TypeMismatch, 0};
  return {static_cast<int>(hr), 0};  // anything else can never match the core
}

Result System(const Variant& input, Target target) {
  OleVariant source(input);
  OleVariant converted;
  const HRESULT hr =
      VariantChangeTypeEx(converted.get(), source.get(), kUsEnglish, 0, kVarTypes[target]);
  if (FAILED(hr)) return FromHResult(hr);
  switch (target) {
    case kBool:
      return {0, static_cast<double>(V_BOOL(converted.get()))};
    case kI2:
      return {0, static_cast<double>(V_I2(converted.get()))};
    case kI4:
      return {0, static_cast<double>(V_I4(converted.get()))};
    case kR8:
      return {0, V_R8(converted.get())};
  }
  return {};
}

Result Core(const Variant& input, Target target) {
  try {
    switch (target) {
      case kBool:
        return {0, static_cast<double>(input.ToBoolean())};
      case kI2:
        return {0, static_cast<double>(input.ToInteger())};
      case kI4:
        return {0, static_cast<double>(input.ToLong())};
      case kR8:
        return {0, input.ToDouble()};
    }
  } catch (const Error& e) {
    return {e.number(), 0};
  }
  return {};
}

// Compares every target for each input; returns how many comparisons were made.
int ExpectAgreement(const std::vector<Variant>& inputs) {
  int compared = 0;
  for (const Variant& input : inputs) {
    for (const Target target : {kBool, kI2, kI4, kR8}) {
      const Result core = Core(input, target);
      const Result system = System(input, target);
      // Exact, also for doubles built from text: a 32-bit build computes them in the x87's
      // extended precision on both sides, as the 32-bit oleaut32 does.
      EXPECT_TRUE(core == system) << Describe(input) << " to " << kTargetNames[target] << ": core "
                                  << Describe(core) << ", oleaut32 " << Describe(system);
      ++compared;
    }
  }
  return compared;
}

std::vector<Variant> Strings(std::initializer_list<const char*> texts) {
  std::vector<Variant> out;
  for (const char* t : texts) out.push_back(Variant::String(t));
  return out;
}

TEST(VariantOleAut32, NonStringSubtypesAgree) {
  const double inf = std::numeric_limits<double>::infinity();
  // clang-format off
  std::vector<Variant> inputs = {
      Variant(), Variant::Bool(True), Variant::Bool(False), Variant::Bool(1),
      Variant::ErrorCode(static_cast<int32_t>(0x80020004)), Variant::ErrorCode(0),
      Variant::Integer(0), Variant::Integer(-32768), Variant::Integer(32767), Variant::Integer(-1),
      Variant::Long(0), Variant::Long(32767), Variant::Long(32768), Variant::Long(-32768),
      Variant::Long(-32769), Variant::Long(2147483647), Variant::Long(-2147483647 - 1),
      Variant::Single(2.5f), Variant::Single(3.5f), Variant::Single(-2.5f), Variant::Single(0.1f),
      Variant::Single(32767.5f), Variant::Single(-32768.5f), Variant::Single(2147483648.0f),
      Variant::Single(-2147483648.0f), Variant::Single(inf), Variant::Single(-0.0f),
      Variant::Double(0), Variant::Double(-0.0), Variant::Double(inf), Variant::Double(-inf),
      Variant::Double(1e300), Variant::Double(4.9e-324), Variant::Double(0.49999999999999994),
      Variant::Double(4503599627370495.5), Variant::Double(0.5), Variant::Double(-0.5),
      Variant::Double(1.5), Variant::Double(-1.5),
      Variant::Cy({0}), Variant::Cy({1}), Variant::Cy({-1}), Variant::Cy({4999}),
      Variant::Cy({5000}), Variant::Cy({5001}), Variant::Cy({15000}), Variant::Cy({25000}),
      Variant::Cy({-25000}), Variant::Cy({-15000}),
      Variant::Cy({std::numeric_limits<int64_t>::max()}),
      Variant::Cy({std::numeric_limits<int64_t>::min()})};
  // clang-format on
  // Ties and near-ties at each end of the Integer and Long ranges, as Double and as Currency.
  for (const double edge : {32767.0, -32768.0, 2147483647.0, -2147483648.0}) {
    const double out = edge > 0 ? 0.5 : -0.5;
    for (const double v : {edge, edge + out, edge - out, std::nextafter(edge + out, 0.0),
                           std::nextafter(edge + out, edge + 2 * out), edge + 2 * out}) {
      inputs.push_back(Variant::Double(v));
      inputs.push_back(Variant::Cy({static_cast<int64_t>(std::llround(v * 10000))}));
    }
    inputs.push_back(Variant::Cy(
        {static_cast<int64_t>(std::llround((edge + out) * 10000)) - (edge > 0 ? 1 : -1)}));
    inputs.push_back(Variant::Cy(
        {static_cast<int64_t>(std::llround((edge + out) * 10000)) + (edge > 0 ? 1 : -1)}));
  }
  // The types a host's bag may hold besides: Null, Date, Decimal and the other integers.
  const auto dec = [](uint8_t scale, bool negative, uint32_t hi, uint64_t lo) {
    return Variant::Dec(Decimal{scale, static_cast<uint8_t>(negative ? 0x80 : 0), hi, lo});
  };
  const Variant others[] = {
      Variant::Null(), Variant::Date(0), Variant::Date(2.5), Variant::Date(-1.5),
      Variant::Date(32767.5), Variant::Date(45000.25), Variant::Date(2958465.99),
      dec(0, false, 0, 0), dec(1, false, 0, 25), dec(1, true, 0, 25), dec(1, false, 0, 35),
      dec(2, true, 0, 1225), dec(0, false, 0, 32768), dec(0, true, 0, 2147483648u),
      dec(0, false, 1, 0), dec(28, false, 0xFFFFFFFF, ~uint64_t{0}), dec(5, false, 0, 50000),
      Variant::OtherInteger(VarType::SByte, -128), Variant::OtherInteger(VarType::Byte, 255),
      Variant::OtherInteger(VarType::UShort, 65535), Variant::OtherInteger(VarType::ULong, 22050),
      Variant::OtherInteger(VarType::ULong, 4000000000), Variant::OtherInteger(VarType::UInt, 7),
      Variant::OtherInteger(VarType::LongLong, -(int64_t{1} << 40)),
      Variant::OtherInteger(VarType::LongLong, 2147483648), Variant::OtherInteger(VarType::Int, -5),
      Variant::OtherInteger(VarType::ULongLong, -1)};
  inputs.insert(inputs.end(), std::begin(others), std::end(others));
  EXPECT_GE(ExpectAgreement(inputs), 4 * 80);
}

TEST(VariantOleAut32, NumericTextAgrees) {
  // clang-format off
  const std::vector<Variant> inputs = Strings({
      "0", "12", " 12 ", "\t12\t", "+12", "-12", "12-", "12+", "(12)", "- 12", "-(12)", "-0",
      "00012", "1e3", "1E3", "1e+3", "1e-3", "1e0003", "1.5e1", "15e-1", "25e-1", "250e-2",
      "1.5", "2.5", "3.5", "-1.5", "-2.5", ".5", "0.5", "-0.5", "0.51", "0.501", "-0.4", "-0.6",
      "0.6", "1.06", "8.5e-1", "1.50000000001", "2.50000000000000000001", "0.", ".0", "-.0",
      "(0)", "1.e3", "1,000", "1,0,0", "1,", "1,000.5", "1.0,5", "1e3,5", "1,e3", "1e,3",
      "$5", "5$", "$ 5", "$12$", "12$$", "$-5", "-$5", "1e3$", "(-5)", "+-12", "-+12", "+12-",
      "12++", "12--", "(12))", "1e--3", "1e-+3", "1e3-",
      "&H1F", "&h1f", "&O17", "&o17", " &H1F ", "-&H1F", "&H1F-", "&H0", "&HFFFF", "&H8000",
      "&H7FFF", "&HFFFFFFFF", "&H80000000", "&H80000001", "&H100000000", "&HFFFFFFFFFFFFFFFF",
      "&H10000000000000000", "&HFFFFFFFFFFFFFFF0", "&O37777777777", "&O177777",
      "32767", "32768", "-32768", "-32769", "32767.4", "32767.5", "32766.5", "32767.49999",
      "-32768.5", "-32767.5", "-32768.50001", "-32769.5", "2147483647", "2147483648",
      "2147483647.5", "2147483646.5", "2147483647.4999", "-2147483648", "-2147483648.5",
      "-2147483647.5", "-2147483648.50001", "-2147483649", "1e10", "1e400", "-1e400", "1e-400",
      "99999999999999999999999", "0.1", "1.1", "0.1234567890123", "1234567.1234567",
      "123456789012345678901234567890", "1.7976931348623157e308", "1.8e308", "1e308",
      "1.79769313486231e308", "4.9e-324", "2.5e-324", "1e-310", "1e-320",
      "0.000000000000000000000000000000001", "123456789012345678", "9007199254740993",
      "0.30000000000000004", "1e22", "1e23",
  });
  // clang-format on
  EXPECT_GE(ExpectAgreement(inputs), 4 * 60);
}

TEST(VariantOleAut32, OtherTextAgrees) {
  // clang-format off
  const std::vector<Variant> inputs = Strings({
      "", " ", "True", "true", "TRUE", "False", "false", "#TRUE#", "#FALSE#", "#true#", " True",
      "True ", "Yes", "On", "abc", "12abc", "1 2", "1.2.3", "--12", "++12", "$$12", "-12-",
      "1e", "e3", "1e+", ".e3", ".", "-.", "$", "()", "(", "1)", ")1", "1(", "(12", "(-12",
      ",1", "$1e3", "1e3.5", "&17", "&H", "&O18", "&HG", "&H 1F", "& H1F", "&H-1F", "$&H1F",
      "&H1F$", "&H1F,", "&H1,F", "&HFFFF.5", "NaN", "Inf", "Infinity", "1.#INF", "0x1F", "1d3",
      // Blanks: Unicode spaces are blanks, other invisible characters are not.
      "\xC2\xA0" "12", "\xE3\x80\x80" "12", "\xE2\x80\x83" "12", "\xC2\x85" "12", "\x0B" "12",
      "12\xC2\xA0", "\x0C" "12\x0C", "\xE1\x9A\x80" "12", "\xE2\x80\xAF" "12",
      "\xE2\x80\xA8" "12", "\xE2\x80\xA9" "12", "\xE2\x81\x9F" "12", "\xE2\x80\x8A" "12",
      "\x1C" "12", "\x1F" "12", "\xE2\x80\x8B" "12", "\xEF\xBB\xBF" "12", "1\xC2\xA0" "000",
      "\xEF\xBC\x91\xEF\xBC\x92",  // full-width digits
  });
  // clang-format on
  EXPECT_GE(ExpectAgreement(inputs), 4 * 60);
}

// Random text from the characters numbers are made of, and random numbers near the ends of the
// ranges, written in the ways the reader accepts.
class TextGenerator {
 public:
  explicit TextGenerator(uint64_t seed) : state_(seed) {}

  std::string Scramble() {
    static const char* const kPieces[] = {
        "0",  "1", "2", "3", "4", "5", "5", "6",  "7",        "8", "9",  "0", "1", "5",
        "9",  " ", ".", ".", ",", "+", "-", "-",  "e",        "E", "$",  "(", ")", "&H",
        "&O", "&", "A", "f", "F", "h", "o", "\t", "\xC2\xA0", "x", "00", "99"};
    std::string text;
    const size_t length = 1 + Next(10);
    for (size_t i = 0; i < length; ++i) text += kPieces[Next(std::size(kPieces))];
    return text;
  }

  std::string NearAnEdge() {
    static const int64_t kEdges[] = {
        0,      1,          2,          32767,           32768,         -32768,
        -32769, 2147483647, 2147483648, -2147483647 - 1, -2147483649LL, 65535,
        100000};
    const int64_t whole = kEdges[Next(std::size(kEdges))] + static_cast<int64_t>(Next(3)) - 1;
    std::string text = std::to_string(whole);
    static const char* const kFractions[] = {"",    ".5",  ".4999", ".5001", ".50", ".05",
                                             ".06", ".49", ".51",   ".0",    ".9",  ".1"};
    text += kFractions[Next(std::size(kFractions))];
    switch (Next(6)) {
      case 0:
        text = " " + text + " ";
        break;
      case 1:
        text += "e0";
        break;
      case 2:
        text = "(" + text + ")";
        break;
      case 3:
        text = "$" + text;
        break;
      default:
        break;
    }
    return text;
  }

 private:
  uint64_t Next(uint64_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state_ >> 33) % bound;
  }
  uint64_t state_;
};

// Text whose integer conversion is a deliberate difference (see below): a nonzero decimal
// number below 0.1 in magnitude.
bool IsSmallFraction(const std::string& text) {
  number_text::Number n;
  return number_text::Read(text, n) == number_text::Outcome::Ok && n.base_shift == 0 &&
         !(n.digits.size() == 1 && n.digits[0] == 0) &&
         static_cast<int64_t>(n.digits.size()) + n.power10 < 0;
}

TEST(VariantOleAut32, GeneratedTextAgrees) {
  TextGenerator generate(20240601);
  std::vector<Variant> inputs;
  int numbers = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string text = i % 3 == 0 ? generate.NearAnEdge() : generate.Scramble();
    double value = 0;
    numbers += ParseNumber(text, value) ? 1 : 0;
    if (IsSmallFraction(text)) {
      for (const Target target : {kBool, kR8}) {
        EXPECT_EQ(Core(Variant::String(text), target), System(Variant::String(text), target))
            << text << " to " << kTargetNames[target];
      }
      continue;
    }
    inputs.push_back(Variant::String(text));
  }
  ExpectAgreement(inputs);
  EXPECT_GT(numbers, 10000) << "the generator should make plenty of numbers, not only junk";
}

// Where the core deliberately gives a different answer from Wine's oleaut32.
TEST(VariantOleAut32, DeliberateDifferences) {
  // Wine rounds a decimal string below 0.1 by its first kept digit, as if the zeros after the
  // point were not there ("0.06" becomes 1). The core rounds by the value: these are all 0.
  for (const char* text : {"0.06", "-0.06", "6e-2", "0.0006", "0.0500001", "0.09"}) {
    for (const Target target : {kI2, kI4}) {
      EXPECT_EQ(Core(Variant::String(text), target), (Result{0, 0}))
          << text << " to " << kTargetNames[target]
          << " (oleaut32: " << Describe(System(Variant::String(text), target)) << ")";
    }
  }
  // NaN to an integer: Wine returns whatever the processor makes of it (-1, 32767,
  // 2147483647); the core calls it an overflow, like infinity.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const Variant& v : {Variant::Double(nan), Variant::Single(static_cast<float>(nan))}) {
    EXPECT_EQ(Core(v, kI2), (Result{errc::Overflow, 0})) << Describe(v);
    EXPECT_EQ(Core(v, kI4), (Result{errc::Overflow, 0})) << Describe(v);
    EXPECT_EQ(Core(v, kBool), System(v, kBool)) << Describe(v);
    EXPECT_EQ(Core(v, kR8), System(v, kR8)) << Describe(v);
  }
  // More than 308 significant digits: Wine returns infinity as the double; the core overflows.
  const Variant digits = Variant::String(std::string(400, '7'));
  EXPECT_EQ(Core(digits, kR8), (Result{errc::Overflow, 0}))
      << "oleaut32: " << Describe(System(digits, kR8));
  EXPECT_EQ(Core(digits, kI4), System(digits, kI4));
}

// CurrencyFromDouble against VarCyFromR8.
TEST(VariantOleAut32, CurrencyFromDoubleAgrees) {
  std::vector<double> inputs = {0,
                                -0.0,
                                0.03125,
                                0.09375,
                                -0.03125,
                                0.00005,
                                0.00015,
                                0.00025,
                                -0.00005,
                                -0.00015,
                                1.23456789,
                                -1.23455,
                                90.30874,
                                -90.3087,
                                -100,
                                -200,
                                0.1,
                                1e14,
                                -1e14,
                                922337203685477.5,
                                922337203685477.625,
                                -922337203685477.5,
                                -922337203685477.625,
                                -922337203685477.75,
                                1e15,
                                -1e15,
                                std::numeric_limits<double>::infinity()};
  // Near-ties: k/20000 is a hair off a half ten-thousandth, so the product's rounding decides.
  for (int k = -3001; k <= 3001; k += 2) inputs.push_back(k / 20000.0 + (k % 7) * 1e9);
  uint64_t state = 7;
  for (int i = 0; i < 2000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double unit = static_cast<double>(state >> 11) / 9007199254740992.0;  // [0, 1)
    inputs.push_back((unit - 0.5) * std::pow(10.0, static_cast<double>(i % 12)));
  }
  for (const double v : inputs) {
    CY system{};
    const HRESULT hr = VarCyFromR8(v, &system);
    const int system_error = FAILED(hr) ? FromHResult(hr).error : 0;
    int core_error = 0;
    int64_t core = 0;
    try {
      core = CurrencyFromDouble(v).ten_thousandths;
    } catch (const Error& e) {
      core_error = e.number();
    }
    EXPECT_EQ(core_error, system_error) << "VarCyFromR8(" << v << ")";
    if (core_error == 0 && system_error == 0) {
      EXPECT_EQ(core, system.int64) << "VarCyFromR8(" << v << ")";
    }
  }
}

}  // namespace
}  // namespace wendrix
