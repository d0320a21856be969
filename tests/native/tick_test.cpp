#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "platform/stage_clock.h"
#include "recording/ring.h"
#include "tests/native/recorder_fixture.h"

namespace wendrix::test {
namespace {

using sim::Signal;

int Drains(const RecorderRig& rig, size_t mark) {
  return static_cast<int>(rig.capture.CallsSince(mark, "GetCurrentPosition").size());
}

TEST(Tick, PhaseStepsThroughFiveSinglePrecisionValuesAndDrainsOnTheFifth) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.control.Wendrix_Start(rig.Path());
  std::vector<uint32_t> phases;  // TickPhase as the meter sees it
  rig.host.on_event = [&](Event e) {
    if (e == Event::dBOnChangeLeft) phases.push_back(std::bit_cast<uint32_t>(rig.s.TickPhase));
  };
  std::vector<int> drains;
  for (int tick = 1; tick <= 10; ++tick) {
    const size_t mark = rig.capture.calls.size();
    rig.Tick();
    drains.push_back(Drains(rig, mark));
  }
  EXPECT_EQ(drains, (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
  // The first block is metered on ticks 6 to 10, the last slice at exactly 1.0.
  EXPECT_EQ(phases,
            (std::vector<uint32_t>{0x3E4CCCCD, 0x3ECCCCCD, 0x3F19999A, 0x3F4CCCCD, 0x3F800000}));
  EXPECT_EQ(rig.s.TickPhase, 0.0f);
}

TEST(Tick, WithTheMeterHiddenEveryTickDrainsAndNothingIsMetered) {
  RecorderRig rig;
  rig.control.put_ShowVU(False);
  rig.control.Init_DSWendrix();
  EXPECT_EQ(rig.host.interval(), 500);
  rig.capture.signal = Signal::Noise(21);
  rig.control.Wendrix_Start(rig.Path());
  const size_t mark = rig.capture.calls.size();
  const size_t events = rig.host.events.size();
  rig.Tick(3);
  EXPECT_EQ(Drains(rig, mark), 3);
  EXPECT_EQ(rig.host.events.size(), events);
  EXPECT_EQ(rig.s.TickPhase, 0.0f);
  rig.control.Wendrix_Stop();
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
}

TEST(Tick, WithoutARecordingTheFifthTickOnlyResetsThePhase) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.Tick(4);
  EXPECT_EQ(std::bit_cast<uint32_t>(rig.s.TickPhase), 0x3F4CCCCDu);
  rig.Tick(1);
  EXPECT_EQ(rig.s.TickPhase, 0.0f);
  EXPECT_TRUE(rig.capture.CallsSince(0, "GetCurrentPosition").empty());
}

TEST(TickInterval, HalfTheRingAndAFifthOfThatWithTheMeterShown) {
  struct Case {
    int32_t ring;
    int32_t hidden;
    int32_t shown;
  };
  // 44100 Hz, stereo, 16 bits: 176400 bytes per second.
  // From a ring of a second on, the ticks come at least every half second.
  const Case cases[] = {{176400, 500, 100}, {88200, 250, 50},   {22050, 62, 12},
                        {100000, 283, 57},  {705600, 500, 400}, {3528000, 500, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ring);
    EXPECT_EQ(TickIntervalsFor(c.ring, 176400).meter_hidden, c.hidden);
    EXPECT_EQ(TickIntervalsFor(c.ring, 176400).meter_shown, c.shown);
    for (const Boolean show : {True, False}) {
      RecorderRig rig;
      rig.SetRing(c.ring);
      rig.control.put_ShowVU(show);
      rig.control.Init_DSWendrix();
      EXPECT_EQ(rig.host.interval(), show ? c.shown : c.hidden);
    }
  }
  EXPECT_THROW(TickIntervalsFor(1000, 0), Error);
}

// Whatever the ring's length, the file and its header follow the audio within a second: a host
// killed at any moment leaves a take that lacks less than that.
TEST(Tick, TheHeaderFollowsTheAudioWithinASecondWhateverTheRing) {
  for (const int32_t ring : {176400, 705600, 3528000}) {
    for (const Boolean show : {True, False}) {
      SCOPED_TRACE(testing::Message() << ring << " ShowVU " << show);
      RecorderRig rig;
      rig.SetRing(ring);
      rig.control.put_ShowVU(show);
      rig.StartNoise(23);
      for (int ms = 0; ms < 6000; ms += rig.host.interval()) {
        rig.Tick();
        EXPECT_LE(rig.capture.recorded().size(), U32At(rig.File(), 42) + 176400u);
      }
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      EXPECT_EQ(rig.Data(), rig.capture.recorded());
    }
  }
}

// Fault mended: the interval follows ShowVU while a recorder exists, so the drain period stays
// half the ring's duration (at most half a second).
TEST(TickInterval, FollowsShowVUWhileARecorderExists) {
  RecorderRig rig;
  size_t mark = rig.Mark();
  rig.control.put_ShowVU(False);
  EXPECT_TRUE(rig.host.CallsSince(mark, "Timer.Interval").empty()) << "no recorder yet";
  rig.control.put_ShowVU(True);
  rig.control.Init_DSWendrix();
  EXPECT_EQ(rig.host.interval(), 100);

  rig.capture.signal = Signal::Noise(22);
  rig.control.Wendrix_Start(rig.Path());
  rig.Drains(1);
  rig.control.put_ShowVU(False);
  EXPECT_EQ(rig.host.interval(), 500);
  rig.Drains(3);
  // Any value other than False shows the meter, and gets the short interval.
  rig.control.put_ShowVU(1);
  EXPECT_EQ(rig.host.interval(), 100);
  rig.Drains(3);
  rig.control.put_ShowVU(True);
  EXPECT_EQ(rig.host.interval(), 100);
  rig.Drains(2);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(rig.capture.recorded().size(), 9u * 88200);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
  EXPECT_TRUE(rig.host.message_boxes.empty());
}

// Fault mended: a ring too short for the timer is refused at Init_DSWendrix with a clear
// error, instead of a recorder that never ticks.
TEST(TickInterval, ARingShorterThanOneTickIsRefused) {
  struct Case {
    int32_t ring;
    Boolean show;
    int32_t interval;  // 0: refused
  };
  // 11025 Hz mono 8 bits: 11025 bytes per second.
  const Case cases[] = {
      {20, False, 0},                  // 1.8 ms: half of 1 ms rounds to 0
      {22, False, 0}, {23, False, 1},  // 2.09 ms
      {66, True, 0},                   // 5.99 ms: 2 ms, a fifth of that rounds to 0
      {67, True, 1},                   // 6.08 ms: 3 ms, a fifth rounds to 1
      {0, False, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ring << " ShowVU " << c.show);
    RecorderRig rig;
    rig.SetFormat(11025, 1, 8);
    rig.SetRing(c.ring);
    rig.control.put_ShowVU(c.show);
    if (c.interval != 0) {
      EXPECT_EQ(rig.control.Init_DSWendrix(), True);
      EXPECT_EQ(rig.host.interval(), c.interval);
      continue;
    }
    try {
      rig.control.Init_DSWendrix();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::InvalidPropertyValue);
      EXPECT_NE(e.description().find("BufferLength of " + std::to_string(c.ring) + " bytes"),
                std::string::npos)
          << e.description();
    }
    EXPECT_EQ(rig.s.DeviceReady, False);
    EXPECT_EQ(rig.capture.buffers_created(), 0);
    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
  }

  // Showing the meter over a ring that is long enough only without it is refused the same way.
  RecorderRig rig;
  rig.SetFormat(11025, 1, 8);
  rig.SetRing(23);
  rig.control.put_ShowVU(False);
  rig.control.Init_DSWendrix();
  EXPECT_THROW(rig.control.put_ShowVU(True), Error);
  EXPECT_EQ(rig.host.interval(), 1);

  // An interval the timer cannot take fails the same call with the timer's error.
  RecorderRig huge;
  huge.SetRing(std::numeric_limits<int32_t>::max());
  huge.control.put_ShowVU(False);
  EXPECT_THROW(huge.control.Init_DSWendrix(), Error);
  EXPECT_EQ(huge.s.DeviceReady, False);
}

// The profiling counters count each stage of the ticks while switched on, and nothing after.
TEST(Tick, StageCountersCountWhileSwitchedOn) {
  RecorderRig rig;
  const std::string table = rig.Path("stages.txt");
  profile::SetProfileFile(table);
  rig.StartNoise(3);
  rig.Tick(10);
  profile::WriteStageTable();
  profile::SetProfileFile("");
  rig.Tick(5);
  profile::WriteStageTable();
  std::map<std::string, int> counts;
  std::ifstream in(table);
  for (std::string line; std::getline(in, line);) {
    std::istringstream row(line);
    std::string stage;
    int count = 0;
    if (row >> stage >> count) counts[stage] += count;
  }
  // The first four slices have no block yet: the first drain comes on the fifth tick.
  EXPECT_EQ(counts["meter_measure"], 5);
  EXPECT_EQ(counts["meter_events"], 5);
  EXPECT_EQ(counts["drain"], 2);
  EXPECT_EQ(counts["block"], counts["file_write"]);
  EXPECT_EQ(counts.count("tick"), 0u) << "the tick as a whole is the container's to time";
}

}  // namespace
}  // namespace wendrix::test
