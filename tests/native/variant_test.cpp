// The Variant coercions. Every expected value here is what oleaut32's VariantChangeTypeEx gives
// for the same input (tests/win/variant_oleaut32_test.cpp checks the two side by side). The
// doubles chosen come out the same whether they are computed in doubles or, in a 32-bit build,
// in the x87's extended precision.
#include "platform/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/error.h"

namespace wendrix {
namespace {

constexpr int kOverflow = errc::Overflow;
constexpr int kMismatch = errc::TypeMismatch;

// A value, or an error number (written as the number alone: kOverflow, kMismatch).
struct Outcome {
  Outcome(double v) : value(v) {}  // NOLINT: the table reads better without a wrapper
  static Outcome Failure(int number) {
    Outcome o(0);
    o.error = number;
    return o;
  }
  double value = 0;
  int error = 0;
  bool operator==(const Outcome&) const = default;
};
const Outcome kOvf = Outcome::Failure(kOverflow);
const Outcome kTm = Outcome::Failure(kMismatch);

void PrintTo(const Outcome& o, std::ostream* os) {
  if (o.error != 0)
    *os << "error " << o.error;
  else
    *os << o.value;
}

template <typename F>
Outcome Try(F convert) {
  try {
    return Outcome(static_cast<double>(convert()));
  } catch (const Error& e) {
    return Outcome::Failure(e.number());
  }
}

struct Row {
  Variant input;
  Outcome boolean, integer, long_value, real;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    const std::string what = r.input.type() == VarType::String ? "\"" + r.input.string() + "\""
                             : r.input.type() == VarType::Error
                                 ? "an Error value"
                                 : std::to_string(r.input.ToDouble());
    EXPECT_EQ(Try([&] { return r.input.ToBoolean(); }), r.boolean) << what << " to Boolean";
    EXPECT_EQ(Try([&] { return r.input.ToInteger(); }), r.integer) << what << " to Integer";
    EXPECT_EQ(Try([&] { return r.input.ToLong(); }), r.long_value) << what << " to Long";
    EXPECT_EQ(Try([&] { return r.input.ToDouble(); }), r.real) << what << " to Double";
  }
}

Variant S(const char* text) { return Variant::String(text); }
Variant D(double v) { return Variant::Double(v); }
Variant C(int64_t ten_thousandths) { return Variant::Cy({ten_thousandths}); }

TEST(Variant, NumbersRoundHalfToEvenAndOverflowJustPastTheRange) {
  ExpectRows({
      {Variant(), 0, 0, 0, 0},
      {Variant::Bool(True), -1, -1, -1, -1},
      {Variant::Bool(1), 1, 1, 1, 1},  // a stored Boolean is kept as it is
      {Variant::Long(100000), -1, kOvf, 100000, 100000},
      {Variant::Integer(-32768), -1, -32768, -32768, -32768},
      {D(0.5), -1, 0, 0, 0.5},
      {D(1.5), -1, 2, 2, 1.5},
      {D(2.5), -1, 2, 2, 2.5},
      {D(-2.5), -1, -2, -2, -2.5},
      {D(0.49999999999999994), -1, 0, 0, 0.49999999999999994},
      {D(32767.499999999996), -1, 32767, 32767, 32767.499999999996},
      {D(32767.5), -1, kOvf, 32768, 32767.5},
      {D(-32768.5), -1, -32768, -32768, -32768.5},
      {D(std::nextafter(-32768.5, -1e9)), -1, kOvf, -32769, std::nextafter(-32768.5, -1e9)},
      {D(2147483647.4999998), -1, kOvf, 2147483647, 2147483647.4999998},
      {D(2147483647.5), -1, kOvf, kOvf, 2147483647.5},
      {D(-2147483648.5), -1, kOvf, -2147483648.0, -2147483648.5},
      {D(std::numeric_limits<double>::infinity()), -1, kOvf, kOvf,
       std::numeric_limits<double>::infinity()},
      {Variant::Single(-32768.5f), -1, -32768, -32768, -32768.5},
      {C(0), 0, 0, 0, 0},
      {C(25000), -1, 2, 2, 2.5},
      {C(-15000), -1, -2, -2, -1.5},
      {C(5001), -1, 1, 1, 0.5001},
      {C(327675000), -1, kOvf, 32768, 32767.5},
      {C(-327685000), -1, -32768, -32768, -32768.5},
      {C(-327685001), -1, kOvf, -32769, -32768.5001},
      {C(21474836474999), -1, kOvf, 2147483647, 2147483647.4999},
      {C(-21474836485000), -1, kOvf, -2147483648.0, -2147483648.5},
      {C(-21474836485001), -1, kOvf, kOvf, -2147483648.5001},
      {Variant::ErrorCode(0), kTm, kTm, kTm, kTm},
  });
}

TEST(Variant, NaNIsTrueButNoInteger) {
  const Variant nan = D(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(nan.ToBoolean(), True);
  EXPECT_EQ(Try([&] { return nan.ToInteger(); }), kOvf);
  EXPECT_EQ(Try([&] { return nan.ToLong(); }), kOvf);
}

TEST(Variant, TextReadsAsOleAutomationReadsNumbers) {
  ExpectRows({
      {S(" 12 "), -1, 12, 12, 12},
      {S("\xC2\xA0"
         "12"),
       -1, 12, 12, 12},  // U+00A0 is a blank
      {S("\x1C"
         "12"),
       kTm, kTm, kTm, kTm},  // a control character is not
      {S("12-"), -1, -12, -12, -12},
      {S("(12)"), -1, -12, -12, -12},
      {S("- 12"), -1, -12, -12, -12},
      {S("-12-"), kTm, kTm, kTm, kTm},
      {S("--12"), kTm, kTm, kTm, kTm},
      {S("(12"), kTm, kTm, kTm, kTm},
      {S("-0"), 0, 0, 0, -0.0},
      {S("1e3"), -1, 1000, 1000, 1000},
      {S("1e-3"), -1, 0, 0, 0.001},
      {S("1e"), kTm, kTm, kTm, kTm},
      {S("$1e3"), kTm, kTm, kTm, kTm},
      {S("$5"), -1, 5, 5, 5},
      {S("1,000"), -1, 1000, 1000, 1000},
      {S("1,0,0"), -1, 100, 100, 100},
      {S(",1"), kTm, kTm, kTm, kTm},
      {S("1e3,5"), -1, 15000, 15000, 15000},  // a digit after a separator joins the mantissa
      {S("2.5"), -1, 2, 2, 2.5},
      {S("3.5"), -1, 4, 4, 3.5},
      {S("-2.5"), -1, -2, -2, -2.5},
      {S(".5"), -1, 0, 0, 0.5},
      {S("2.50000000000000000001"), -1, 3, 3, 2.5},  // integers round by the exact decimal
      {S("0.06"), -1, 0, 0, 0.06},
      {S("32767.5"), -1, kOvf, 32768, 32767.5},
      {S("-32768.5"), -1, -32768, -32768, -32768.5},
      {S("-32768.50001"), -1, kOvf, -32769, -32768.50001},
      {S("2147483647.5"), -1, kOvf, kOvf, 2147483647.5},
      {S("-2147483648.5"), -1, kOvf, -2147483648.0, -2147483648.5},
      {S("1e400"), kOvf, kOvf, kOvf, kOvf},
      {S("1e-400"), 0, 0, 0, 0},
      {S("4.9e-324"), 0, 0, 0, 0},
      {S("&H1F"), -1, 31, 31, 31},
      {S("-&H1F"), -1, 31, 31, 31},  // the sign of a bit pattern is ignored
      {S("&HFFFF"), -1, -1, 65535, 65535},
      {S("&H8000"), -1, -32768, 32768, 32768},
      {S("&HFFFFFFFF"), kOvf, kOvf, -1, kOvf},
      {S("&H80000000"), -1, kOvf, -2147483648.0, -2147483648.0},
      {S("&HFFFFFFFFFFFFFFFF"), kOvf, kOvf, kOvf, kOvf},
      {S("&O17"), -1, 15, 15, 15},
      {S("&O18"), kTm, kTm, kTm, kTm},
      {S("&H"), kTm, kTm, kTm, kTm},
      {S(""), kTm, kTm, kTm, kTm},
      {S("True"), -1, kTm, kTm, kTm},
      {S("fAlSe"), 0, kTm, kTm, kTm},
      {S("#TRUE#"), -1, kTm, kTm, kTm},
      {S("#true#"), kTm, kTm, kTm, kTm},
      {S(" True"), kTm, kTm, kTm, kTm},
      {S("NaN"), kTm, kTm, kTm, kTm},
      {S("Inf"), kTm, kTm, kTm, kTm},
      {Variant::String(std::string(400, '7')), kOvf, kOvf, kOvf, kOvf},
  });
}

TEST(Variant, RoundHalfEven) {
  const std::vector<std::pair<double, double>> cases = {{0.5, 0},
                                                        {1.5, 2},
                                                        {2.5, 2},
                                                        {-0.5, 0},
                                                        {-1.5, -2},
                                                        {-2.5, -2},
                                                        {2.4999999999999996, 2},
                                                        {2.5000000000000004, 3},
                                                        {-3.7, -4},
                                                        {4503599627370495.5, 4503599627370496},
                                                        {1e300, 1e300}};
  for (const auto& [in, out] : cases) EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST(Variant, CurrencyFromDoubleRoundsTheExtendedProduct) {
  const std::vector<std::pair<double, Outcome>> cases = {
      {1.5, 15000},
      {-90.30874, -903087},
      {0.03125, 312},  // exactly 312.5 ten-thousandths: to even
      {0.09375, 938},  // exactly 937.5
      {-0.03125, -312},
      {0.00005, 1},  // the nearest double is a hair above half a ten-thousandth
      {0.00015, 1},  // and this one a hair below 1.5
      {0.00025, 3},  // a hair above 2.5, which a product rounded to double would lose
      {-922337203685477.625, kOvf},
      {1e15, kOvf},
      {std::numeric_limits<double>::quiet_NaN(), kOvf},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(Try([&] { return CurrencyFromDouble(in).ten_thousandths; }), out) << in;
  }
  // Exact to the last unit at the top of the range, where a double product would not be.
  EXPECT_EQ(CurrencyFromDouble(922337203685477.5).ten_thousandths, 9223372036854775000);
  EXPECT_EQ(CurrencyToDouble({-903125}), -90.3125);
}

TEST(Variant, NumericEqualsNeverThrows) {
  EXPECT_TRUE(NumericEquals(Variant::Integer(-200), -200));
  EXPECT_TRUE(NumericEquals(Variant::Long(-200), -200));
  EXPECT_TRUE(NumericEquals(D(-200), -200));
  EXPECT_TRUE(NumericEquals(C(-2000000), -200));
  EXPECT_TRUE(NumericEquals(S(" -200 "), -200));
  EXPECT_TRUE(NumericEquals(S("-2e2"), -200));
  EXPECT_TRUE(NumericEquals(Variant(), 0));
  EXPECT_TRUE(NumericEquals(Variant::Bool(True), -1));
  EXPECT_FALSE(NumericEquals(Variant::Integer(-199), -200));
  EXPECT_FALSE(NumericEquals(S("No Sound"), -200));
  EXPECT_FALSE(NumericEquals(S("1e400"), -200));
  EXPECT_FALSE(NumericEquals(Variant::ErrorCode(-200), -200));
  EXPECT_FALSE(NumericEquals(D(std::numeric_limits<double>::quiet_NaN()), -200));
}

TEST(Variant, ParseNumberGivesTheDoubleOfToDouble) {
  double v = 0;
  EXPECT_TRUE(ParseNumber("22050", v));
  EXPECT_EQ(v, 22050);
  EXPECT_TRUE(ParseNumber("(1,234.5)", v));
  EXPECT_EQ(v, -1234.5);
  EXPECT_FALSE(ParseNumber("22050 Hz", v));
  EXPECT_FALSE(ParseNumber("1e400", v));
}

}  // namespace
}  // namespace wendrix
