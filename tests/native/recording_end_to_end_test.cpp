// Whole recordings on the simulated device: every byte the device produced between the start
// and the stop is in the file, once, in order, behind the header of its format; the meter
// reports five times per drain period.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/native/recorder_fixture.h"

namespace wendrix::test {
namespace {

using sim::Signal;

struct Format {
  int32_t rate;
  int16_t channels;
  int16_t bits;
  int16_t block_align;
  int32_t bytes_per_second;
};

const Format kFormats[] = {
    {11025, 1, 8, 1, 11025},  {11025, 1, 16, 2, 22050}, {11025, 2, 8, 2, 22050},
    {11025, 2, 16, 4, 44100}, {22050, 1, 8, 1, 22050},  {22050, 1, 16, 2, 44100},
    {22050, 2, 8, 2, 44100},  {22050, 2, 16, 4, 88200}, {44100, 1, 8, 1, 44100},
    {44100, 1, 16, 2, 88200}, {44100, 2, 8, 2, 88200},  {44100, 2, 16, 4, 176400},
};

void ExpectHeader(const std::vector<uint8_t>& file, const Format& f) {
  ASSERT_GE(file.size(), 46u);
  const auto text = [&](size_t at) {
    return std::string(file.begin() + at, file.begin() + at + 4);
  };
  EXPECT_EQ(text(0), "RIFF");
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  EXPECT_EQ(text(8), "WAVE");
  EXPECT_EQ(text(12), "fmt ");
  EXPECT_EQ(U32At(file, 16), 18u);
  EXPECT_EQ(U16At(file, 20), 1);  // PCM
  EXPECT_EQ(U16At(file, 22), f.channels);
  EXPECT_EQ(U32At(file, 24), static_cast<uint32_t>(f.rate));
  EXPECT_EQ(U32At(file, 28), static_cast<uint32_t>(f.bytes_per_second));
  EXPECT_EQ(U16At(file, 32), f.block_align);
  EXPECT_EQ(U16At(file, 34), f.bits);
  EXPECT_EQ(U16At(file, 36), 0);  // cbSize
  EXPECT_EQ(text(38), "data");
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
}

TEST(RecordingEndToEnd, EveryFormatRecordsExactlyWhatTheDeviceProduced) {
  for (const Boolean show_vu : {True, False}) {
    for (const Format& f : kFormats) {
      SCOPED_TRACE(testing::Message() << f.rate << " Hz, " << f.channels << " ch, " << f.bits
                                      << " bits, ShowVU " << show_vu);
      RecorderRig rig;
      rig.SetFormat(f.rate, f.channels, f.bits);
      rig.control.put_ShowVU(show_vu);
      ASSERT_EQ(rig.control.Init_DSWendrix(), True);
      ASSERT_EQ(rig.s.BufferBytes, f.bytes_per_second) << "a ring of one second";
      rig.capture.signal = Signal::Noise(static_cast<uint64_t>(f.bytes_per_second + f.bits));
      // Like hardware: the position moves in 10 ms periods, the read position a little behind.
      rig.capture.period_frames = static_cast<uint32_t>(f.rate / 100);
      rig.capture.read_lag_frames = 24;

      // Something recorded before must not leak into this recording.
      ASSERT_EQ(rig.control.Wendrix_Start(rig.Path("before.wav")), True);
      rig.Drains(1);
      rig.Tick(2);
      ASSERT_EQ(rig.control.Wendrix_Stop(), True);
      rig.capture.Advance(333);

      const int ticks_per_drain = show_vu ? 5 : 1;
      ASSERT_EQ(rig.control.Wendrix_Start(rig.Path()), True);
      std::vector<int> left_per_tick;
      std::vector<int> right_per_tick;
      for (int tick = 0; tick < 7 * ticks_per_drain + 2; ++tick) {
        const size_t mark = rig.Mark();
        rig.Tick();
        left_per_tick.push_back(rig.EventsSince(mark, Event::dBOnChangeLeft));
        right_per_tick.push_back(rig.EventsSince(mark, Event::dBOnChangeRight));
      }
      ASSERT_EQ(rig.control.Wendrix_Stop(), True);

      const auto file = rig.File();
      ExpectHeader(file, f);
      const auto& truth = rig.capture.recorded();
      EXPECT_GT(truth.size(), 3u * static_cast<size_t>(f.bytes_per_second)) << "the ring wrapped";
      EXPECT_EQ(rig.Data(), truth);
      EXPECT_EQ(rig.s.BytesRecorded, static_cast<int32_t>(truth.size()));
      EXPECT_TRUE(rig.host.message_boxes.empty());

      if (show_vu == False) {
        EXPECT_EQ(std::count(left_per_tick.begin(), left_per_tick.end(), 0),
                  static_cast<long>(left_per_tick.size()));
        continue;
      }
      // Nothing before the first drain (tick 5), then one slice per tick.
      std::vector<int> expected_left(5, 0);
      expected_left.resize(left_per_tick.size(), 1);
      EXPECT_EQ(left_per_tick, expected_left);
      std::vector<int> expected_right = expected_left;
      if (f.channels == 1) expected_right.assign(expected_right.size(), 0);
      EXPECT_EQ(right_per_tick, expected_right);
    }
  }
}

TEST(RecordingEndToEnd, TheMeterReadsAKnownToneOnTheRightChannel) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  // Left silent, right a square wave of peak 16384.
  rig.capture.signal = Signal::Samples({0, 16384, 0, -16384});
  rig.control.Wendrix_Start(rig.Path());
  std::vector<Variant> right_levels;
  rig.host.on_event = [&](Event e) {
    if (e == Event::dBOnChangeRight) right_levels.push_back(rig.s.LevelRightDb);
  };
  rig.Drains(2);
  rig.Tick(1);
  // 20 log10(16384 / 32767) = -6.0203 to four places; the left channel holds no signal.
  EXPECT_EQ(rig.s.LevelRightDb, Variant::Cy(Currency{-60203}));
  EXPECT_EQ(rig.s.LevelLeftDb, Variant::Cy(Currency{-1000000}));
  // A handler reads the level of the slice before.
  ASSERT_EQ(right_levels.size(), 6u);
  EXPECT_EQ(right_levels[0], Variant::Integer(-200));
  EXPECT_EQ(right_levels[5], Variant::Cy(Currency{-60203}));
  rig.control.Wendrix_Stop();
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
}

}  // namespace
}  // namespace wendrix::test
