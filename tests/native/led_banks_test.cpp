// The LED banks and overflow lamps: the threshold table, the latch, the clears and clicks, and
// what a failing element does to each.
#include <cmath>
#include <string>
#include <vector>

#include "face_fixture.h"

namespace wendrix::face_test {
namespace {

constexpr uint32_t kGreen = 0x0000FF00, kGreenOff = 0x00404000;
constexpr uint32_t kOrange = 0x000080FF, kOrangeOff = 0x000040C0;
constexpr uint32_t kRed = 0x000000FF, kRedOff = 0x00000080;

constexpr Currency Cy(int64_t ten_thousandths) { return Currency{ten_thousandths}; }

int Led(Bank bank, int j) { return bank == Bank::Left ? LEDLeft(j) : LEDRight(j); }
int Lamp(Bank bank) {
  return bank == Bank::Left ? element::LEDOverflowLeft : element::LEDOverflowRight;
}

// The bank as a string of 13 letters, LED 0 first: G/O lit green/orange, g/o dark, ? other.
std::string Bar(const sim::SimHost& host, Bank bank) {
  std::string out;
  for (int j = 0; j < 13; ++j) {
    const uint32_t c = host.element_color(Led(bank, j));
    out += c == kGreen       ? 'G'
           : c == kGreenOff  ? 'g'
           : c == kOrange    ? 'O'
           : c == kOrangeOff ? 'o'
                             : '?';
  }
  return out;
}

std::string LitBar(int lit) {
  std::string out;
  for (int j = 0; j < 13; ++j) out += j < 10 ? (j < lit ? 'G' : 'g') : (j < lit ? 'O' : 'o');
  return out;
}

constexpr const char* kAllOff = "ggggggggggooo";
constexpr const char* kAllLit = "GGGGGGGGGGOOO";

// Every 5 dB boundary from both sides, and the boundaries at -60 and -0.5.
struct Threshold {
  int64_t level;  // ten-thousandths of a dB
  int lit;        // LEDs 0 .. lit-1 lit, the rest dark
};
constexpr Threshold kThresholds[] = {
    {-1000000, 0}, {-600001, 0},  {-599999, 1},  {-550001, 1}, {-550000, 1},
    {-549999, 2},  {-500001, 2},  {-500000, 2},  {-499999, 3}, {-450001, 3},
    {-450000, 3},  {-449999, 4},  {-400001, 4},  {-400000, 4}, {-399999, 5},
    {-350001, 5},  {-350000, 5},  {-349999, 6},  {-300001, 6}, {-300000, 6},
    {-299999, 7},  {-250001, 7},  {-250000, 7},  {-249999, 8}, {-205000, 8},  // -20.5: LEDs 0-7
    {-200001, 8},  {-200000, 8},  {-199999, 9},  {-150001, 9}, {-150000, 9},
    {-149999, 10}, {-100001, 10}, {-100000, 10}, {-99999, 11}, {-50001, 11},
    {-50000, 11},  {-49999, 12},                // -5.0000 lights 0-10
    {-5001, 12},   {-5000, 12},   {-4999, 13},  // -0.5000 lights 0-11
    {-3000, 13},   {-1, 13},      {0, 13},
};

TEST(LedBank, PaintsTheThresholdTableOnBothSidesOfEveryBoundary) {
  for (Bank bank : {Bank::Left, Bank::Right}) {
    for (const Threshold& t : kThresholds) {
      Face f;
      // Start from a fully lit bar with a lit lamp, so that every LED must be assigned.
      for (int j = 0; j < 13; ++j) f.host.SetBackColor(Led(bank, j), j < 10 ? kGreen : kOrange);
      f.host.SetBackColor(Lamp(bank), kRed);
      f.control.PaintBar(bank, Cy(t.level));
      EXPECT_EQ(Bar(f.host, bank), t.lit == 0 ? kAllOff : LitBar(t.lit))
          << "level " << t.level / 10000.0 << (bank == Bank::Left ? " left" : " right");
      // Only the clear below -60 touches the lamp.
      EXPECT_EQ(f.host.element_color(Lamp(bank)), t.level < -600000 ? kRedOff : kRed)
          << "level " << t.level / 10000.0;
      // The other bank is never touched.
      const Bank other = bank == Bank::Left ? Bank::Right : Bank::Left;
      EXPECT_EQ(Bar(f.host, other), kAllOff);
    }
  }
}

// The analysis never gives exactly -60.0000; the bar rule then lights LEDs 0 and 1.
TEST(LedBank, ExactlyMinusSixtyFollowsTheBarRule) {
  Face f;
  f.control.PaintBar(Bank::Left, Cy(-600000));
  EXPECT_EQ(Bar(f.host, Bank::Left), LitBar(2));
}

// The lowest 16-bit peak whose level lights each LED, the level computed as the analysis does.
TEST(LedBank, LowestPeakOfEachLed) {
  const int kLowestPeak[13] = {33,   59,   104,  185,   328,   583,  1037,
                               1843, 3277, 5827, 10362, 18427, 30935};
  const auto level = [](int peak) {
    return Cy(static_cast<int64_t>(std::nearbyint(20 * std::log10(peak / 32767.0) * 10000)));
  };
  for (int j = 0; j < 13; ++j) {
    Face f;
    f.control.PaintBar(Bank::Left, level(kLowestPeak[j]));
    EXPECT_EQ(Bar(f.host, Bank::Left), LitBar(j + 1)) << "peak " << kLowestPeak[j];
    f.control.PaintBar(Bank::Left, level(kLowestPeak[j] - 1));
    EXPECT_EQ(Bar(f.host, Bank::Left), LitBar(j)) << "peak " << kLowestPeak[j] - 1;
  }
}

TEST(LedBank, AssignsEveryLedInAscendingOrderAndNeverTheLamp) {
  Face f;
  size_t mark = f.Mark();
  f.control.PaintBar(Bank::Right, Cy(-205000));
  std::vector<std::string> expected;
  for (int j = 0; j < 13; ++j)
    expected.push_back(ColorCall(LEDRight(j), j < 8 ? kGreen : j < 10 ? kGreenOff : kOrangeOff));
  EXPECT_EQ(f.host.CallsSince(mark), expected);

  // Above -0.5 the bar lights 0 .. 11 and then 12; the colours already shown do not matter.
  for (int round = 0; round < 2; ++round) {
    mark = f.Mark();
    f.control.PaintBar(Bank::Left, Cy(0));
    expected.clear();
    for (int j = 0; j < 13; ++j)
      expected.push_back(ColorCall(LEDLeft(j), j < 10 ? kGreen : kOrange));
    EXPECT_EQ(f.host.CallsSince(mark), expected);
  }
}

TEST(LedBank, ClearTurnsOffLedsInOrderThenTheLamp) {
  for (Bank bank : {Bank::Left, Bank::Right}) {
    Face f;
    f.control.PaintBar(bank, Cy(0));
    f.control.LightLamp(bank);
    const size_t mark = f.Mark();
    bank == Bank::Left ? f.control.ClearLeftMeter() : f.control.ClearRightMeter();
    std::vector<std::string> expected;
    for (int j = 0; j < 13; ++j)
      expected.push_back(ColorCall(Led(bank, j), j < 10 ? kGreenOff : kOrangeOff));
    expected.push_back(ColorCall(Lamp(bank), kRedOff));
    EXPECT_EQ(f.host.CallsSince(mark), expected);
  }
}

// The lamp is a latch: lit at full scale, held down to -60, out below it or on a click.
TEST(OverflowLamp, StaysLitUntilASilentSlice) {
  Face f;
  f.control.PaintBar(Bank::Left, Cy(0));
  f.control.LightLamp(Bank::Left);
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), kRed);

  f.control.PaintBar(Bank::Left, Cy(-200000));
  EXPECT_EQ(Bar(f.host, Bank::Left), LitBar(8));
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), kRed);

  f.control.PaintBar(Bank::Left, Cy(-599999));
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), kRed);

  f.control.PaintBar(Bank::Left, Cy(-1000000));
  EXPECT_EQ(Bar(f.host, Bank::Left), kAllOff);
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), kRedOff);
}

TEST(OverflowLamp, AClickDarkensItAtOnceWhateverTheState) {
  for (Bank bank : {Bank::Left, Bank::Right}) {
    Face f;
    // Recording, and Enabled False: neither matters to a click.
    f.s().IsRecording = True;
    f.s().IsEnabled = False;
    f.control.PaintBar(bank, Cy(0));
    f.control.LightLamp(bank);
    ASSERT_EQ(f.host.element_color(Lamp(bank)), kRed);
    const size_t mark = f.Mark();
    bank == Bank::Left ? f.control.LEDOverflowLeft_Click() : f.control.LEDOverflowRight_Click();
    EXPECT_EQ(f.host.CallsSince(mark), std::vector<std::string>{ColorCall(Lamp(bank), kRedOff)});
    EXPECT_EQ(Bar(f.host, bank), kAllLit);  // the bar is left as it was

    // A click on a dark lamp leaves it dark; the next full-scale slice lights it again.
    bank == Bank::Left ? f.control.LEDOverflowLeft_Click() : f.control.LEDOverflowRight_Click();
    EXPECT_EQ(f.host.element_color(Lamp(bank)), kRedOff);
    f.control.LightLamp(bank);
    EXPECT_EQ(f.host.element_color(Lamp(bank)), kRed);
    f.s().IsRecording = False;
  }
}

TEST(OverflowLamp, AFailingClickReachesTheContainer) {
  Face f;
  f.control.LightLamp(Bank::Right);
  f.host.FailNext(ColorCall(element::LEDOverflowRight, kRedOff), Error(380));
  EXPECT_EQ(ErrorOf([&] { f.control.LEDOverflowRight_Click(); }), 380);
  EXPECT_EQ(f.host.element_color(element::LEDOverflowRight), kRed);
}

TEST(LedBankFailure, PaintBarSkipsAFailingLedAndGoesOn) {
  Face f;
  f.host.FailNext("BackColor " + std::to_string(LEDLeft(3)) + " ", Error(380));
  f.host.FailNext("BackColor " + std::to_string(LEDLeft(12)) + " ", Error(380));
  EXPECT_EQ(ErrorOf([&] { f.control.PaintBar(Bank::Left, Cy(-3000)); }), 0);
  EXPECT_EQ(Bar(f.host, Bank::Left), "GGGgGGGGGGOOo");

  // The same on the dark side of the bar.
  f.host.FailNext("BackColor " + std::to_string(LEDLeft(9)) + " ", Error(380));
  f.control.PaintBar(Bank::Left, Cy(-300000));
  EXPECT_EQ(Bar(f.host, Bank::Left), "GGGGGGgggGooo");
}

TEST(LedBankFailure, ClearStopsAtTheFirstFailureAndRaisesIt) {
  for (Bank bank : {Bank::Left, Bank::Right}) {
    Face f;
    f.control.PaintBar(bank, Cy(0));
    f.control.LightLamp(bank);
    f.host.FailNext("BackColor " + std::to_string(Led(bank, 5)) + " ", Error(380, "refused"));
    const int32_t error = ErrorOf(
        [&] { bank == Bank::Left ? f.control.ClearLeftMeter() : f.control.ClearRightMeter(); });
    EXPECT_EQ(error, 380);
    EXPECT_EQ(Bar(f.host, bank), "gggggGGGGGOOO");
    EXPECT_EQ(f.host.element_color(Lamp(bank)), kRed);

    // A failing lamp is the last step: every LED is already dark.
    f.host.FailNext("BackColor " + std::to_string(Lamp(bank)) + " ", Error(380));
    EXPECT_EQ(ErrorOf([&] {
                bank == Bank::Left ? f.control.ClearLeftMeter() : f.control.ClearRightMeter();
              }),
              380);
    EXPECT_EQ(Bar(f.host, bank), kAllOff);
    EXPECT_EQ(f.host.element_color(Lamp(bank)), kRed);
  }
}

// A silent slice clears through the clear routine; its failure ends the clear, not the paint.
TEST(LedBankFailure, PaintBarBelowSixtyEndsAFailingClearQuietly) {
  Face f;
  f.control.PaintBar(Bank::Right, Cy(0));
  f.control.LightLamp(Bank::Right);
  f.host.FailNext("BackColor " + std::to_string(LEDRight(5)) + " ", Error(380));
  EXPECT_EQ(ErrorOf([&] { f.control.PaintBar(Bank::Right, Cy(-1000000)); }), 0);
  EXPECT_EQ(Bar(f.host, Bank::Right), "gggggGGGGGOOO");
  EXPECT_EQ(f.host.element_color(element::LEDOverflowRight), kRed);
}

TEST(LedBankFailure, ALampThatCannotBeLitRaises) {
  Face f;
  f.host.FailNext(ColorCall(element::LEDOverflowLeft, kRed), Error(380));
  EXPECT_EQ(ErrorOf([&] { f.control.LightLamp(Bank::Left); }), 380);
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), kRedOff);
}

}  // namespace
}  // namespace wendrix::face_test
