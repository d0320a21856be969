// Hosts that behave as real form code does: handlers that pump messages, calls that are
// refused again and again, a user interface thread that stalls, a device that fails on the way
// out. Each case checks the file against every byte the device produced.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "tests/native/recorder_fixture.h"

namespace wendrix::test {
namespace {

using sim::CaptureCall;
using sim::Signal;

bool IsLevelEvent(Event e) { return e == Event::dBOnChangeLeft || e == Event::dBOnChangeRight; }

// A level-event handler that pumps messages (DoEvents, a modal form) lets ticks in, and a tick
// it lets in may raise the event again: the meter's cycle and the drain must survive any depth.
TEST(MisbehavingHost, TicksInsideLevelEventsKeepTheTakeWhole) {
  for (const int depth : {1, 3}) {
    SCOPED_TRACE(testing::Message() << "ticks nested " << depth << " deep");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(31);
    rig.capture.read_lag_frames = 16;
    int level = 0;
    int deepest = 0;
    rig.host.on_event = [&](Event e) {
      if (!IsLevelEvent(e)) return;
      deepest = std::max(deepest, ++level);
      if (level <= depth) rig.Tick(2);
      --level;
    };
    rig.control.Wendrix_Start(rig.Path());
    rig.Drains(12);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    // Ticks inside a handler never raise the events again.
    EXPECT_EQ(deepest, 1);
    EXPECT_TRUE(rig.host.message_boxes.empty());
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
  }
}

// A host that calls Wendrix_Start (refused: a recording runs) or sets ShowVU to its own value
// on every tick restarts nothing that the drain depends on.
TEST(MisbehavingHost, RefusedStartsAndRepeatedShowVUPutsDoNotStarveTheDrain) {
  const std::function<void(RecorderRig&)> calls[] = {
      [](RecorderRig& r) { EXPECT_EQ(r.control.Wendrix_Start(r.Path("other.wav")), False); },
      [](RecorderRig& r) { r.control.put_ShowVU(True); },
  };
  for (const auto& call : calls) {
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(32);
    rig.control.Wendrix_Start(rig.Path());
    const size_t host_mark = rig.Mark();
    const size_t device_mark = rig.capture.calls.size();
    for (int i = 0; i < 60; ++i) {
      rig.Tick();
      call(rig);
    }
    EXPECT_TRUE(rig.host.CallsSince(host_mark, "Timer.Interval").empty());
    // Six seconds: a transfer every drain period.
    EXPECT_GE(rig.capture.CallsSince(device_mark, "Lock").size(), 12u);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_TRUE(rig.host.message_boxes.empty());
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
  }
}

// A user interface thread that stalls for longer than the ring lasts: the rings the device
// wrote over become silence where they belong, so the take lasts as long as the recording,
// and the loss is reported once.
TEST(MisbehavingHost, AStalledHostGetsSilenceForTheLostRingsAndOneReport) {
  struct Case {
    Boolean show_vu;
    int stalls_ms[2];
    size_t lost_rings[2];
  };
  // Counted from the last read, a tick after the stall: with the meter shown (a tick every
  // 100 ms) 1.6 rings leave one whole ring unread and 3.3 rings three; hidden (500 ms), 2.1
  // rings two and 3.7 rings three.
  const Case cases[] = {{True, {1500, 3200}, {1, 3}}, {False, {1600, 3200}, {2, 3}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "ShowVU " << c.show_vu);
    RecorderRig rig;
    rig.control.put_ShowVU(c.show_vu);
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(33);
    rig.capture.read_lag_frames = 16;
    rig.control.Wendrix_Start(rig.Path());
    std::vector<std::pair<size_t, size_t>> gaps;  // where and how long, in bytes
    rig.Drains(2);
    for (int i = 0; i < 2; ++i) {
      const size_t at = rig.capture.recorded().size() - 16 * 4;
      rig.capture.Advance(c.stalls_ms[i]);
      rig.Drains(3);
      gaps.emplace_back(at, c.lost_rings[i] * 176400u);
    }
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);

    std::vector<uint8_t> expected = rig.capture.recorded();
    for (const auto& [at, length] : gaps) std::fill_n(expected.begin() + at, length, uint8_t{0});
    EXPECT_EQ(rig.Data(), expected);
    const auto file = rig.File();
    EXPECT_EQ(U32At(file, 42), expected.size());
    EXPECT_EQ(U32At(file, 4), file.size() - 8);
    ASSERT_EQ(rig.host.message_boxes.size(), 1u);
    const std::string seconds = std::to_string(c.lost_rings[0]) + ".000 seconds";
    EXPECT_EQ(rig.host.message_boxes[0].rfind(
                  "private update wendrix Error: " + seconds + " of audio were lost", 0),
              0u)
        << rig.host.message_boxes[0];
  }
}

// A device that fails on the way out (unplugged) does not keep any stop path from finishing
// the file and stopping the control; a failing Stop is raised after, and the next start works.
TEST(MisbehavingHost, EveryStopPathFinishesTheFileWhenTheDeviceFails) {
  enum class Path { Stop, UnInit, Init };
  for (const Path path : {Path::Stop, Path::UnInit, Path::Init}) {
    for (const CaptureCall failing : {CaptureCall::Stop, CaptureCall::Position, CaptureCall::Lock}) {
      SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << ", failing call "
                                      << static_cast<int>(failing));
      RecorderRig rig;
      rig.control.Init_DSWendrix();
      rig.capture.signal = Signal::Noise(34);
      rig.control.Wendrix_Start(rig.Path());
      rig.Drains(2);
      rig.Tick(2);
      const size_t taken = rig.s.BytesRecorded;
      rig.capture.FailAlways(failing, Error::Platform(sim::kDsErrBufferLost, "buffer lost"));
      const auto run = [&] {
        switch (path) {
          case Path::Stop: return rig.control.Wendrix_Stop();
          case Path::UnInit: return rig.control.UnInit_DSWendrix();
          case Path::Init: return rig.control.Init_DSWendrix();
        }
        return False;
      };
      if (failing == CaptureCall::Stop) {
        EXPECT_THROW(run(), Error);
      } else {
        EXPECT_EQ(run(), True);
        // The failed last transfer is the drain's to report.
        EXPECT_EQ(rig.host.message_boxes.size(), 1u);
      }
      EXPECT_EQ(rig.s.IsRecording, False);
      EXPECT_FALSE(rig.host.timer_enabled());
      EXPECT_EQ(rig.EventsSince(0, Event::OnStop), 1);
      const auto file = rig.File();
      const auto data = rig.Data();
      EXPECT_EQ(U32At(file, 42), data.size());
      EXPECT_EQ(U32At(file, 4), file.size() - 8);
      // A failed Stop still lets the tail in; a failed read keeps what came before it.
      const auto& recorded = rig.capture.recorded();
      EXPECT_EQ(data.size(), failing == CaptureCall::Stop ? recorded.size() : taken);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), recorded.begin()));

      // A buffer whose Stop failed may still run: the next recording gets a new one.
      rig.capture.ClearFailures();
      rig.control.Init_DSWendrix();
      EXPECT_EQ(rig.control.Wendrix_Start(rig.Path("next.wav")), True);
      rig.Drains(1);
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      EXPECT_EQ(rig.Data("next.wav"), rig.capture.recorded());
    }
  }
}

// Windows delivers timer ticks no closer than its clock (15.625 ms here): a ring that ticks
// cannot serve is refused with the least length that works; a ring just above it records
// without loss from ticks that come at the clock's pace, with the meter shown or hidden.
TEST(MisbehavingHost, RingsTheTimerCannotServeAreRefusedAndTheRestRecordWhole) {
  for (const int32_t ring : {11025, 16536, 16540, 22050}) {
    for (const Boolean show_vu : {True, False}) {
      SCOPED_TRACE(testing::Message() << ring << " bytes, ShowVU " << show_vu);
      RecorderRig rig;
      rig.host.timer_granularity_us = 15625;
      rig.control.put_ShowVU(show_vu);
      if (ring < 16540) {
        // Refused before anything is released: the recorder that is ready stays so.
        rig.control.Init_DSWendrix();
        rig.SetRing(ring);
        try {
          rig.control.Init_DSWendrix();
          ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
          EXPECT_EQ(e.number(), 380);
          EXPECT_NE(e.description().find("BufferLength must be at least 16540 bytes"),
                    std::string::npos)
              << e.description();
        }
        EXPECT_EQ(rig.s.DeviceReady, True);
        EXPECT_EQ(rig.capture.buffers_created(), 1);
        EXPECT_EQ(rig.capture.live_buffers(), 1);
        continue;
      }
      rig.SetRing(ring);
      rig.control.Init_DSWendrix();
      rig.capture.signal = Signal::Noise(35);
      rig.capture.read_lag_frames = 64;
      rig.control.Wendrix_Start(rig.Path());
      // Each tick comes on the first clock interrupt at or after its interval.
      const int64_t clock = 15625;
      const int64_t spacing = (rig.host.interval() * 1000 + clock - 1) / clock * clock;
      for (int64_t t = 0; t < 3000000; t += spacing) {
        rig.capture.AdvanceMicroseconds(spacing);
        rig.control.Timer1_Timer();
      }
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      EXPECT_TRUE(rig.host.message_boxes.empty()) << rig.host.message_boxes[0];
      EXPECT_EQ(rig.Data(), rig.capture.recorded());
    }
  }
}

// A device that makes a ring of another length than asked for is refused: the transfers would
// wrap where it does not.
TEST(MisbehavingHost, ARingOfAnotherLengthThanAskedIsRefused) {
  RecorderRig rig;
  rig.capture.ring_rounding = 4096;
  try {
    rig.control.Init_DSWendrix();
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 380);
    EXPECT_NE(e.description().find("180224 bytes for a BufferLength of 176400"), std::string::npos)
        << e.description();
  }
  EXPECT_EQ(rig.s.DeviceReady, False);
  EXPECT_EQ(rig.capture.live_buffers(), 0);
  rig.SetRing(180224);
  EXPECT_EQ(rig.control.Init_DSWendrix(), True);
}

}  // namespace
}  // namespace wendrix::test
