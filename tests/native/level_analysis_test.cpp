// The level meter's analysis: which words a tick reads, the levels of peaks, and what one
// MeterSlice call paints, raises and stores.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "control/control.h"
#include "control/elements.h"
#include "meter/level.h"
#include "platform/error.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_host.h"

namespace wendrix {
namespace {

// The five tick fractions of a cycle, as the tick handler's single-precision phase holds them.
const float kTicks[5] = {std::bit_cast<float>(0x3E4CCCCDu), std::bit_cast<float>(0x3ECCCCCDu),
                         std::bit_cast<float>(0x3F19999Au), std::bit_cast<float>(0x3F4CCCCDu),
                         std::bit_cast<float>(0x3F800000u)};

constexpr uint32_t kLampOn = 0x000000FF;
constexpr uint32_t kGreenOn = 0x0000FF00;

Currency Cy(int64_t ten_thousandths) { return Currency{ten_thousandths}; }

TEST(SliceOfWords, WalksTheBlockInFiveSlices) {
  struct Case {
    int32_t n;
    WordSlice slices[5];
  };
  const Case cases[] = {
      // An 88200-byte block: words 1-8820, 8821-17640, ... 35281-44100 (pairs from first).
      {44101, {{1, 8819}, {8821, 17639}, {17641, 26460}, {26461, 35280}, {35281, 44100}}},
      // The third slice ends with the pair 1323/1324, the fourth begins with it again.
      {2206, {{1, 440}, {441, 881}, {883, 1323}, {1323, 1764}, {1765, 2205}}},
      // Slices 1, 2 and 5 are empty.
      {3, {{1, 0}, {1, 0}, {1, 1}, {1, 1}, {3, 2}}},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 5; ++k) {
      SCOPED_TRACE("N=" + std::to_string(c.n) + " tick " + std::to_string(k + 1));
      const WordSlice got = SliceOfWords(kTicks[k], c.n);
      EXPECT_EQ(got.first, c.slices[k].first);
      EXPECT_EQ(got.last, c.slices[k].last);
    }
  }
}

TEST(SliceOfFrames, EveryFrameOnceACycle) {
  for (int64_t frames : {0, 1, 4, 5, 11, 22050}) {
    int64_t next = 0;
    for (int k = 0; k < 5; ++k) {
      const FrameSlice slice = SliceOfFrames(kTicks[k], frames);
      EXPECT_EQ(slice.begin, next) << frames << " tick " << k + 1;
      EXPECT_GE(slice.end, slice.begin);
      next = slice.end;
    }
    EXPECT_EQ(next, frames);
  }
  EXPECT_EQ(SliceOfFrames(kTicks[2], 10).begin, 4);
  EXPECT_EQ(SliceOfFrames(kTicks[2], 10).end, 6);
}

TEST(LevelOfPeak, TwentyLog10RoundedToFourPlaces) {
  struct Case {
    int32_t peak;
    int32_t full_scale;
    int64_t level;
  };
  const Case cases[] = {
      {32767, 32767, 0},   {16384, 32767, -60203}, {33, 32767, -599385}, {32, 32767, -602057},
      {1, 32767, -903087}, {32730, 32767, -98},    {32729, 32767, -101}, {0, 32767, -1000000},
      {127, 127, 0},       {64, 127, -59525},      {1, 127, -420761},    {0, 127, -1000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LevelOfPeak(c.peak, c.full_scale), Cy(c.level)) << c.peak << "/" << c.full_scale;
  }
  EXPECT_THROW(Log10(0), Error);
  EXPECT_DOUBLE_EQ(Log10(1000), 3);
}

class NoCapture : public CaptureSystem {
 public:
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    throw Error::Platform(0x88780078u, "no device in these tests");
  }
};

// A control in the middle of a recording, with a block the test chooses.
struct MeterFixture : ::testing::Test {
  sim::SimHost host;
  NoCapture capture;
  sim::SimFileSystem files;
  Control control{Platform{host, host, host, host, capture, files}};
  ControlState& s = control.state();

  void SetUp() override {
    s.MeterDataReady = True;
    s.MeterVisible = True;
    Layout(2, 2, 16);
    s.LevelLeftDb = Variant::Integer(-200);
    s.LevelRightDb = Variant::Integer(-200);
  }
  void Layout(int device_channels, int channel_count, int bits) {
    s.DeviceFormat.nChannels = static_cast<int16_t>(device_channels);
    s.DeviceFormat.wBitsPerSample = static_cast<int16_t>(bits);
    s.ChannelCount = channel_count;
  }
  // A 16-bit block as the drain leaves it: the frames, then two zero words.
  void Frames16(int frames, int16_t first, int16_t second) {
    s.SampleWords.clear();
    for (int f = 0; f < frames; ++f) {
      s.SampleWords.push_back(first);
      s.SampleWords.push_back(second);
    }
    s.SampleWords.insert(s.SampleWords.end(), 2, 0);
  }
  // An 8-bit block as the drain leaves it: the bytes, then one zero byte.
  void Bytes8(std::vector<uint8_t> bytes) {
    s.SampleBytes = std::move(bytes);
    s.SampleBytes.push_back(0);
  }
  Currency Left() const { return s.LevelLeftDb.currency(); }
  Currency Right() const { return s.LevelRightDb.currency(); }
  uint32_t Color(int element) const { return host.element_color(element); }
};

TEST_F(MeterFixture, PeaksBecomeStoredLevelsAndLamps) {
  struct Case {
    int16_t sample;
    int64_t level;
    bool lamp;
  };
  const Case cases[] = {
      {32767, 0, true},     {-32767, 0, true},    {16384, -60203, false},
      {33, -599385, false}, {32, -602057, false}, {1, -903087, false},
      {32730, -98, true},   {32729, -101, false}, {0, -1000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    control.LEDOverflowLeft_Click();
    control.LEDOverflowRight_Click();
    Frames16(50, c.sample, c.sample);
    control.MeterSlice(kTicks[2]);
    ASSERT_EQ(s.LevelLeftDb.type(), VarType::Currency);
    EXPECT_EQ(Left(), Cy(c.level));
    EXPECT_EQ(Right(), Cy(c.level));
    EXPECT_EQ(Color(element::LEDOverflowLeft) == kLampOn, c.lamp);
    EXPECT_EQ(Color(element::LEDOverflowRight) == kLampOn, c.lamp);
  }
}

TEST_F(MeterFixture, FirstSampleOfAFrameDrivesTheLeftSide) {
  Frames16(100, 32767, 0);  // a signal on the first channel only
  for (int k = 0; k < 5; ++k) {
    control.MeterSlice(kTicks[k]);
    EXPECT_EQ(Left(), Cy(0)) << k;
    EXPECT_EQ(Right(), Cy(-1000000)) << k;
  }
  EXPECT_EQ(Color(LEDLeft(12)), 0x000080FFu);
  EXPECT_EQ(Color(element::LEDOverflowLeft), kLampOn);
  EXPECT_NE(Color(LEDRight(0)), kGreenOn);
  EXPECT_NE(Color(element::LEDOverflowRight), kLampOn);

  Frames16(100, 0, -16384);  // and on the second only
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(Left(), Cy(-1000000));
  EXPECT_EQ(Right(), Cy(-60203));
}

TEST_F(MeterFixture, TheWordWithoutAMagnitudeLeavesThePeak) {
  Frames16(40, -32768, 0);
  control.MeterSlice(kTicks[1]);
  EXPECT_EQ(Left(), Cy(-1000000));
  EXPECT_EQ(Right(), Cy(-1000000));

  Layout(1, 1, 16);
  Frames16(40, -32768, 100);
  control.MeterSlice(kTicks[1]);
  EXPECT_EQ(Left(), LevelOfPeak(100, 32767));
}

TEST_F(MeterFixture, EventsComeBeforeTheLevelsAreStored) {
  // What the host's handlers read through dBLeft and dBRight while they run.
  std::vector<std::pair<Event, std::pair<Variant, Variant>>> seen;
  host.on_event = [&](Event e) {
    seen.push_back({e, {control.get_dBLeft(), control.get_dBRight()}});
  };
  Frames16(20, 1000, 2000);
  control.MeterSlice(kTicks[0]);
  const auto no_sound = std::make_pair(Variant::String("No Sound"), Variant::String("No Sound"));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, Event::dBOnChangeLeft);
  EXPECT_EQ(seen[0].second, no_sound);
  EXPECT_EQ(seen[1].first, Event::dBOnChangeRight);
  EXPECT_EQ(seen[1].second, no_sound);
  const Variant first_left = Variant::Cy(LevelOfPeak(1000, 32767));
  const Variant first_right = Variant::Cy(LevelOfPeak(2000, 32767));
  EXPECT_EQ(control.get_dBLeft(), first_left);
  EXPECT_EQ(control.get_dBRight(), first_right);

  // On the next slice the handlers see the first slice's levels.
  seen.clear();
  Frames16(20, 3000, 3000);
  control.MeterSlice(kTicks[1]);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].second, std::make_pair(first_left, first_right));
  EXPECT_EQ(seen[1].second, std::make_pair(first_left, first_right));
  EXPECT_EQ(Left(), LevelOfPeak(3000, 32767));
}

TEST_F(MeterFixture, MonoLeavesTheRightSideAlone) {
  Layout(1, 1, 16);
  std::vector<uint32_t> right_before;
  for (int j = 0; j < kLedCount; ++j) right_before.push_back(Color(LEDRight(j)));
  right_before.push_back(Color(element::LEDOverflowRight));

  // Both words of a pair feed the left peak: the larger one sits at odd positions.
  Frames16(30, 100, 32767);
  control.MeterSlice(kTicks[3]);
  EXPECT_EQ(Left(), Cy(0));
  EXPECT_EQ(s.LevelRightDb, Variant::Integer(-200));
  EXPECT_EQ(host.events, std::vector<Event>{Event::dBOnChangeLeft});
  std::vector<uint32_t> right_after;
  for (int j = 0; j < kLedCount; ++j) right_after.push_back(Color(LEDRight(j)));
  right_after.push_back(Color(element::LEDOverflowRight));
  EXPECT_EQ(right_after, right_before);
}

// The recording's layout (DeviceFormat) decides the split and the right bank; NumChannels
// decides the right event, the stored right level and the right lamp.
TEST_F(MeterFixture, WhichChannelCountDecidesWhat) {
  Layout(2, 1, 16);
  Frames16(30, 0, 32767);
  const size_t mark = host.calls.size();
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(host.events, std::vector<Event>{Event::dBOnChangeLeft});
  EXPECT_EQ(s.LevelRightDb, Variant::Integer(-200));
  EXPECT_EQ(Color(LEDRight(12)), 0x000080FFu);  // painted all the same
  EXPECT_NE(Color(element::LEDOverflowRight), kLampOn);
  EXPECT_FALSE(host.CallsSince(mark, "BackColor " + std::to_string(LEDRight(0)) + " ").empty());

  host.events.clear();
  Layout(1, 2, 16);
  const size_t mark2 = host.calls.size();
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(host.events, (std::vector<Event>{Event::dBOnChangeLeft, Event::dBOnChangeRight}));
  EXPECT_EQ(Right(), Cy(-1000000));
  EXPECT_EQ(Left(), Cy(0));  // mono: both words went left
  EXPECT_TRUE(host.CallsSince(mark2, "BackColor " + std::to_string(LEDRight(0)) + " ").empty());
}

TEST_F(MeterFixture, NothingHappensWithoutABlockOrAMeter) {
  Frames16(10, 1000, 1000);
  s.MeterDataReady = False;
  control.MeterSlice(kTicks[0]);
  s.MeterDataReady = True;
  s.MeterVisible = False;
  control.MeterSlice(kTicks[0]);
  s.MeterVisible = True;
  s.SampleWords.clear();
  control.MeterSlice(kTicks[0]);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(s.LevelLeftDb, Variant::Integer(-200));
}

TEST_F(MeterFixture, EmptySlicesGiveSilence) {
  s.SampleWords = {0, 1000, 2000, 0};  // N = 3
  const int64_t expected_left[5] = {-1000000, -1000000, LevelOfPeak(2000, 32767).ten_thousandths,
                                    LevelOfPeak(2000, 32767).ten_thousandths, -1000000};
  for (int k = 0; k < 5; ++k) {
    host.events.clear();
    control.MeterSlice(kTicks[k]);
    EXPECT_EQ(Left(), Cy(expected_left[k])) << k;
    EXPECT_EQ(host.events.size(), 2u);
  }
  EXPECT_EQ(Right(), Cy(-1000000));
}

// Nothing MeterSlice meets is reported: a failing step is skipped and the next one runs.
TEST_F(MeterFixture, FailingStepsAreSkippedWithoutAReport) {
  Frames16(20, 32767, 32767);
  host.on_event = [](Event) { throw Error(5, "handler failed"); };
  host.FailAlways("BackColor", Error(380, "colour refused"));
  EXPECT_NO_THROW(control.MeterSlice(kTicks[0]));
  EXPECT_EQ(host.events, (std::vector<Event>{Event::dBOnChangeLeft, Event::dBOnChangeRight}));
  EXPECT_EQ(Left(), Cy(0));
  EXPECT_EQ(Right(), Cy(0));
  EXPECT_TRUE(host.message_boxes.empty());
  EXPECT_FALSE(
      host.CallsSince(0, "!BackColor " + std::to_string(element::LEDOverflowLeft)).empty());

  // A failing raise of the left event does not keep the right one from coming.
  host.ClearFailures();
  host.events.clear();
  host.on_event = [](Event e) {
    if (e == Event::dBOnChangeLeft) throw Error(5, "left handler failed");
  };
  Frames16(20, 10, 20);
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(host.events.size(), 2u);
  EXPECT_EQ(Left(), LevelOfPeak(10, 32767));
  EXPECT_EQ(Right(), LevelOfPeak(20, 32767));
  EXPECT_EQ(Color(element::LEDOverflowLeft), 0x00000080u);  // painted: below -60 clears it
}

// 8-bit samples are unsigned around 128, read frame by frame from the byte block.
TEST_F(MeterFixture, EightBitAudioIsMeteredAsWhatItIs) {
  Layout(2, 2, 8);
  std::vector<uint8_t> silence(200, 128);
  Bytes8(silence);
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(Left(), Cy(-1000000));
  EXPECT_EQ(Right(), Cy(-1000000));
  EXPECT_NE(Color(element::LEDOverflowLeft), kLampOn);

  // Full scale either way is 0 dB; the first byte of a frame is the left sample.
  std::vector<uint8_t> frames;
  for (int f = 0; f < 100; ++f) {
    frames.push_back(f % 2 ? 0 : 255);
    frames.push_back(128 + 64);
  }
  Bytes8(frames);
  control.MeterSlice(kTicks[0]);
  EXPECT_EQ(Left(), Cy(0));
  EXPECT_EQ(Right(), Cy(-59525));
  EXPECT_EQ(Color(element::LEDOverflowLeft), kLampOn);

  // Ten mono frames, one loud frame in each fifth but the last sample: each tick sees its own.
  Layout(1, 1, 8);
  Bytes8({128, 129, 128, 130, 131, 128, 128, 132, 128, 128});
  const int64_t expected[5] = {
      LevelOfPeak(1, 127).ten_thousandths, LevelOfPeak(2, 127).ten_thousandths,
      LevelOfPeak(3, 127).ten_thousandths, LevelOfPeak(4, 127).ten_thousandths, -1000000};
  for (int k = 0; k < 5; ++k) {
    control.MeterSlice(kTicks[k]);
    EXPECT_EQ(Left(), Cy(expected[k])) << k;
  }
}

}  // namespace
}  // namespace wendrix
