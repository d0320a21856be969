// Hosts that behave as real form code does: handlers that pump messages, calls that are
// refused again and again, a user interface thread that stalls, a device that fails on the way
// out. Each case checks the file against every byte the device produced.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>

#include "recording/position_watch.h"
#include "recording/ring.h"
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
    rig.StartNoise(32);
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

// "1.234": seconds with three decimals, as the reports give them.
std::string SecondsText(size_t bytes, size_t rate) {
  const size_t ms = bytes * 1000 / rate;
  std::string fraction = std::to_string(ms % 1000);
  return std::to_string(ms / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

// Devices as they are (periods, a capture-read gap, a late start, a freeze, a periodic signal
// whose ring looks the same after whole rings, a driver that starts its positions over)
// against a host whose ticks come on time, late or stall, and that ticks inside its boxes: the
// file must be what the device produced, with silence exactly where no reader polling at those
// moments could have taken the bytes, and the boxes must tell each loss once: the first at
// once, the total at the stop.
TEST(MisbehavingHost, TheTakeHoldsWhatTheDeviceProducedAndEveryLossIsTold) {
  struct Device {
    const char* name;
    int32_t ring;
    uint32_t period_frames;
    uint32_t lag_frames;
    int64_t start_delay_ms;
    int64_t freeze_from_ms;  // take time at which delivery stops for freeze_ms
    int64_t freeze_ms;
    bool tone = false;           // a steady 441 Hz tone: whole periods fill the ring
    int64_t reset_at_ms = -1;    // take time at which the driver starts the positions over
    uint32_t jitter_frames = 0;  // every second read position lies this far back
    bool catches_up = false;     // after the freeze it delivers what it held back
  };
  const Device devices[] = {
      {"steady", 176400, 1, 16, 0, 0, 0},
      {"10 ms periods", 176400, 441, 441, 0, 0, 0},
      {"600 ms bursts", 176400, 26460, 441, 0, 0, 0},
      {"late start", 176400, 441, 441, 500, 0, 0},
      {"later start than it claims", 176400, 441, 441, 1100, 0, 0},
      {"start of 3 s (a wireless headset)", 176400, 441, 441, 3000, 0, 0},
      {"freeze that resumes", 176400, 441, 441, 0, 1000, 800},
      {"short ring, 50 ms periods", 17640, 2205, 64, 0, 0, 0},
      {"dropout a little shorter than the ring", 176400, 441, 441, 0, 2000, 920},
      {"short ring, dropout of 90 ms", 17640, 441, 64, 0, 2000, 90},
      {"freeze of 1.5 s from 3.2 s", 176400, 441, 441, 0, 3200, 1500},
      {"steady tone", 176400, 441, 441, 0, 0, 0, true},
      {"driver resets its positions", 176400, 1, 0, 0, 0, 0, false, 2550},
      {"driver resets its positions, tone", 176400, 1, 0, 0, 0, 0, true, 5570},
      {"hiccup of 300 ms, then it catches up", 176400, 441, 441, 0, 2000, 300, false, -1, 0, true},
      {"hiccup of 700 ms, then it catches up", 176400, 441, 441, 0, 3100, 700, false, -1, 0, true},
      {"read position steps back 4 frames", 176400, 441, 441, 0, 0, 0, false, -1, 4},
      {"short ring, read position steps back 64 frames", 17640, 441, 64, 0, 0, 0, false, -1, 64},
      {"late start, then the driver resets", 176400, 1, 0, 500, 0, 0, false, 2770},
  };
  struct Host {
    const char* name;
    std::vector<std::pair<int64_t, double>> stalls;  // (take ms, length in rings)
    int64_t tick_ms = 0;  // ticks this far apart instead of at the interval
    int64_t box_ms = 0;   // a box stays open this long, with ticks at the interval inside it
  };
  const Host hosts[] = {
      {"ticks on time", {}},
      {"stall of 0.95 rings", {{3000, 0.95}}},
      {"stall of 1.1 rings", {{3000, 1.1}}},
      {"stall of 1.5 rings", {{3000, 1.5}}},
      {"stall of 3.2 rings", {{3000, 3.2}}},
      {"stall right after Start", {{0, 2.3}}},
      {"two stalls", {{2500, 1.1}, {5000, 3.2}}},
      {"stall of 2.22 rings", {{3000, 2.22}}},
      {"ticks every 1.407 s", {}, 1407},
      {"stall of 1.005 rings", {{3000, 1.005}}},
      {"stall of 2.015 rings from Start", {{0, 2.015}}},
      {"stall of 2 rings", {{3000, 2.0}}},
      {"stall of 1.5 rings, box open 2 s, ticks inside", {{3030, 1.5}}, 0, 2000},
  };
  for (const Device& d : devices) {
    for (const Host& h : hosts) {
      // Blocked from the start, a host cannot tell a device's delay beyond the one it claims.
      const int64_t claimed_delay_us = std::min<int64_t>(d.start_delay_ms * 1000 + 20000, 1000000);
      if (claimed_delay_us < d.start_delay_ms * 1000 && !h.stalls.empty() &&
          h.stalls[0].first == 0) {
        continue;
      }
      // A read position that flips back is judged with ticks on time: a reader that stalls
      // may place a loss's edge a flip away from where another reader would.
      if (d.jitter_frames > 0 && (!h.stalls.empty() || h.tick_ms > 0)) continue;
      SCOPED_TRACE(testing::Message() << d.name << ", " << h.name);
      RecorderRig rig;
      rig.SetRing(d.ring);
      rig.control.Init_DSWendrix();
      auto& device = rig.capture;
      device.signal = d.tone ? Signal::Sines({{441, 0.5}}) : Signal::Noise(33);
      device.period_frames = d.period_frames;
      device.read_lag_frames = d.lag_frames;
      device.start_delay_us = d.start_delay_ms * 1000;
      device.max_start_delay_us = claimed_delay_us;
      device.read_jitter_frames = d.jitter_frames;
      rig.control.Wendrix_Start(rig.Path());

      // The clock runs on through freezes and stalls; ticks come at the interval between them.
      int64_t now_us = 0;
      const auto run_to = [&](int64_t until_us) {
        for (const int64_t edge_ms : {d.freeze_from_ms, d.freeze_from_ms + d.freeze_ms}) {
          const int64_t edge = edge_ms * 1000;
          if (d.freeze_ms == 0 || edge <= now_us || edge > until_us) continue;
          device.AdvanceMicroseconds(edge - now_us);
          now_us = edge;
          edge_ms == d.freeze_from_ms ? device.Freeze() : device.Resume(d.catches_up);
        }
        if (const int64_t reset = d.reset_at_ms * 1000; reset > now_us && reset <= until_us) {
          device.AdvanceMicroseconds(reset - now_us);
          now_us = reset;
          device.ResetPositions();
        }
        device.AdvanceMicroseconds(until_us - now_us);
        now_us = until_us;
      };
      rig.host.on_message_box = [&](const std::string&) {
        for (int64_t open = 0; open < h.box_ms * 1000;) {
          run_to(now_us + rig.host.interval() * 1000);
          open += rig.host.interval() * 1000;
          rig.control.Timer1_Timer();
        }
      };
      size_t next_stall = 0;
      while (now_us < 7000000) {
        if (next_stall < h.stalls.size() && now_us >= h.stalls[next_stall].first * 1000) {
          const double rings = h.stalls[next_stall++].second;
          run_to(now_us + static_cast<int64_t>(rings * d.ring / 176400.0 * 1e6));
        }
        run_to(now_us + (h.tick_ms > 0 ? h.tick_ms : rig.host.interval()) * 1000);
        rig.control.Timer1_Timer();
      }
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);

      std::vector<uint8_t> expected = device.recorded();
      size_t lost = 0;
      const auto gaps = device.unrecoverable();
      for (const auto& [begin, end] : gaps) {
        std::fill(expected.begin() + begin, expected.begin() + end, uint8_t{0});
        lost += end - begin;
      }
      const auto data = rig.Data();
      std::printf(
          "[ row ] %s, %s: %zu bytes expected (%zu of them silence), %zu written, %zu boxes\n",
          d.name, h.name, expected.size(), lost, data.size(), rig.host.message_boxes.size());
      const auto differ = std::mismatch(data.begin(), data.end(), expected.begin(), expected.end());
      EXPECT_TRUE(data == expected)
          << data.size() << " bytes for " << expected.size() << ", first difference at "
          << (differ.first - data.begin()) << "; unrecoverable " << testing::PrintToString(gaps)
          << "; boxes " << testing::PrintToString(rig.host.message_boxes);
      const auto file = rig.File();
      EXPECT_EQ(U32At(file, 42), expected.size());
      EXPECT_EQ(U32At(file, 4), file.size() - 8);
      // Stalls and late ticks within the minute the watch saves lose nothing: only a reset
      // can cost audio here.
      if (d.reset_at_ms < 0) {
        EXPECT_TRUE(gaps.empty());
      }

      const auto& boxes = rig.host.message_boxes;
      ASSERT_EQ(boxes.size(), gaps.size() > 1 ? 2u : gaps.size()) << testing::PrintToString(boxes);
      const std::string prefix = "private update wendrix Error: ";
      if (!gaps.empty()) {
        const std::string first = prefix + SecondsText(gaps[0].second - gaps[0].first, 176400) +
                                  " seconds of audio were lost";
        EXPECT_EQ(boxes[0].rfind(first, 0), 0u) << boxes[0];
        EXPECT_NE(boxes[0].find("holds silence in their place"), std::string::npos) << boxes[0];
      }
      if (gaps.size() > 1) {
        EXPECT_EQ(boxes[1], prefix + "audio was lost " + std::to_string(gaps.size()) +
                                " times in this recording, " + SecondsText(lost, 176400) +
                                " seconds in all; " + rig.Path() +
                                " holds silence in their place.");
      }
    }
  }
}

// A host whose thread is busy for up to a minute (a report printing, a long query) loses
// nothing: the watch saves what the ring would write over and the drain writes it first, a
// bounded part per tick, and everything left at the stop. Only what comes beyond the minute
// (or beyond the memory there is) is lost, in one box that says what was saved.
TEST(MisbehavingHost, ABusyHostLosesNothingWithinTheMinute) {
  struct Row {
    const char* name;
    std::vector<std::pair<int64_t, int64_t>> stalls;  // (take ms, length ms)
    int32_t ring = 176400;
    uint32_t period_frames = 1;
    enum End { Ticks, StopInStall, RemovedInStall } end = Ticks;
    int64_t memory = -1;  // the most bytes the spill can allocate (-1: as it likes)
    int64_t lost_ms = 0;  // audio lost, to within 300 ms
    const char* box = nullptr;
    Boolean meter = True;
  };
  const Row rows[] = {
      {"5 s stall", {{2000, 5000}}},
      {"59 s stall", {{2000, 59000}}},
      {"59 s stall, meter hidden", {{2000, 59000}}, 176400, 1, Row::Ticks, -1, 0, nullptr, False},
      {"65 s stall",
       {{2000, 65000}},
       176400,
       1,
       Row::Ticks,
       -1,
       4200,
       "(it saved the first 60.000 seconds in memory)"},
      // Behind the full minute a two-second ring has no room: the backlog goes out at once.
      {"2 s ring, 65 s stall",
       {{2000, 65000}},
       352800,
       1,
       Row::Ticks,
       -1,
       3200,
       "(it saved the first 60.000 seconds in memory)"},
      {"stall right after Start", {{0, 5000}}},
      {"two stalls", {{1500, 5000}, {9000, 12000}}},
      {"600 ms bursts, 5 s stall", {{2000, 5000}}, 176400, 26460},
      {"smallest ring, 5 s stall", {{2000, 5000}}, 16540},
      {"stall ending in Wendrix_Stop", {{2000, 5000}}, 176400, 1, Row::StopInStall},
      {"removed during a stall",
       {{2000, 5000}},
       176400,
       441,
       Row::RemovedInStall,
       -1,
       0,
       "has delivered no sound for"},
      {"no memory for the spill",
       {{2000, 5000}},
       176400,
       1,
       Row::Ticks,
       0,
       4200,
       "no memory left to save the audio"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    RecorderRig rig;
    rig.host.timer_granularity_us = 15625;
    rig.SetRing(r.ring);
    rig.control.put_ShowVU(r.meter);
    rig.StartNoise(40, 16, r.period_frames);
    if (r.memory >= 0) rig.s.Watch->LimitSpillMemory(r.memory);
    // Each tick's time and what it wrote; the first transfer after a stall may write much.
    std::vector<int64_t> tick_us;
    int64_t longest_us = 0;
    int64_t most_written = 0;
    bool first_after_stall = false;
    const auto tick = [&] {
      rig.capture.Advance(rig.host.interval());
      const int64_t before = rig.s.BytesRecorded;
      const auto begun = std::chrono::steady_clock::now();
      rig.control.Timer1_Timer();
      const int64_t took = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - begun)
                               .count();
      longest_us = std::max(longest_us, took);
      if (!first_after_stall) {
        tick_us.push_back(took);
        most_written = std::max(most_written, rig.s.BytesRecorded - before);
      }
      first_after_stall = false;
    };
    int64_t now_ms = 0;
    for (const auto& [at, length] : r.stalls) {
      for (; now_ms < at; now_ms += rig.host.interval()) tick();
      if (r.end == Row::RemovedInStall) {
        rig.capture.Advance(static_cast<int32_t>(length / 2));
        rig.capture.Freeze();
        rig.capture.Advance(static_cast<int32_t>(length - length / 2));
      } else {
        rig.capture.Advance(static_cast<int32_t>(length));
      }
      now_ms += length;
      first_after_stall = true;
    }
    if (r.end != Row::StopInStall) {
      for (const int64_t end = now_ms + 8000; now_ms < end; now_ms += rig.host.interval()) tick();
      // The backlog is written and its memory gone; ticks come at their pace again.
      EXPECT_EQ(rig.s.DrainBacklog, False);
      const TickIntervals pace = TickIntervalsFor(r.ring, 176400);
      EXPECT_EQ(rig.host.interval(), r.meter != False ? pace.meter_shown : pace.meter_hidden);
    }
    const int64_t peak = rig.s.Watch->SpillPeak();
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);

    // The file holds every byte the device delivered, silence only where no read could have
    // taken the bytes, and as much of that as the row expects.
    std::vector<uint8_t> expected = rig.capture.recorded();
    size_t lost = 0;
    for (const auto& [begin, end] : rig.capture.unrecoverable()) {
      std::fill(expected.begin() + begin, expected.begin() + end, uint8_t{0});
      lost += end - begin;
    }
    EXPECT_TRUE(rig.Data() == expected) << rig.Data().size() << " bytes for " << expected.size();
    EXPECT_NEAR(static_cast<double>(lost) / 176.4, static_cast<double>(r.lost_ms), 300.0);
    EXPECT_EQ(U32At(rig.File(), 42), expected.size());
    const auto& boxes = rig.host.message_boxes;
    ASSERT_EQ(boxes.size(), r.box ? 1u : 0u) << testing::PrintToString(boxes);
    if (r.box) {
      EXPECT_NE(boxes[0].find(r.box), std::string::npos) << boxes[0];
    }
    // Outside the first transfer after a stall no tick writes more than a bounded part of the
    // backlog (a quarter of a megabyte and the rest of a block) besides what the ring holds (a
    // loss's silence aside).
    if (r.lost_ms == 0) {
      EXPECT_LE(most_written, 256 * 1024 + 2 * r.ring);
    }
    EXPECT_LE(peak, int64_t{60} * 176400);
    std::sort(tick_us.begin(), tick_us.end());
    const int64_t p99 = tick_us.empty() ? 0 : tick_us[tick_us.size() * 99 / 100];
    testing::Test::RecordProperty(
        r.name, "bytes expected " + std::to_string(expected.size()) + " written " +
                    std::to_string(rig.Data().size()) + " lost " + std::to_string(lost) +
                    " boxes " + std::to_string(boxes.size()) + " spill peak " +
                    std::to_string(peak) + " longest tick us " + std::to_string(longest_us) +
                    " p99 tick us " + std::to_string(p99) + " most written by a later tick " +
                    std::to_string(most_written));
  }
}

// A device that stops delivering while the host's ticks come on time: positions that stand
// still (Wine's when the sound server goes), then perhaps errors. One report in plain words, no
// silence, no word of a host stall; the file keeps what came before; a Stop that fails keeps
// the device's number and says what happened. A device that came back (from a dropout, or
// after a start so slow it was called stopped) and is then removed is named again.
TEST(MisbehavingHost, ADeviceThatStopsIsNamedOnceAndNeverBlamedOnTheHost) {
  struct Case {
    const char* name;
    bool resumes;     // delivery comes back after 2 s
    bool calls_fail;  // then positions and locks fail
    bool stop_fails;
    bool removed_after = false;  // positions and locks fail once delivery came back
    int64_t start_delay_ms = 0;
  };
  const Case cases[] = {{"freeze of 2 s that resumes", true, false, false},
                        {"positions frozen for good, Stop fails", false, false, true},
                        {"freeze that ends in errors", false, true, true},
                        {"freeze of 2 s that resumes, then removed", true, false, false, true},
                        {"start of 6.5 s, then removed", true, false, false, true, 6500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderRig rig;
    rig.capture.start_delay_us = c.start_delay_ms * 1000;
    rig.StartNoise(36, 441, 441);
    if (c.start_delay_ms > 0) {
      // Unmoved after a second, the buffer is made anew: the silence is told from then on.
      rig.Drains(16);
      ASSERT_EQ(rig.host.message_boxes.size(), 1u);
      EXPECT_NE(rig.host.message_boxes[0].find("has delivered no audio in the"), std::string::npos);
      EXPECT_EQ(rig.capture.buffers_created(), 2);
    }
    rig.Drains(4);
    rig.capture.Freeze();
    rig.Drains(2);
    const Error gone = Error::Platform(sim::kAudclntDeviceInvalidated,
                                       "IDirectSoundCaptureBuffer::Stop: error 0x88890004");
    if (c.calls_fail) {
      rig.capture.FailAlways(CaptureCall::Position, gone);
      rig.capture.FailAlways(CaptureCall::Lock, gone);
    }
    rig.Drains(2);
    if (c.resumes) rig.capture.Resume();
    rig.Drains(4);
    const size_t taken = rig.Data().size();
    if (c.removed_after) {
      rig.capture.FailAlways(CaptureCall::Position, gone);
      rig.capture.FailAlways(CaptureCall::Lock, gone);
      rig.Drains(2);
    }
    if (c.stop_fails) rig.capture.FailAlways(CaptureCall::Stop, gone);
    try {
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      EXPECT_FALSE(c.stop_fails);
    } catch (const Error& e) {
      EXPECT_TRUE(c.stop_fails);
      EXPECT_EQ(static_cast<uint32_t>(e.number()), sim::kAudclntDeviceInvalidated);
      EXPECT_EQ(e.description(),
                "The recording device stopped or was removed "
                "(IDirectSoundCaptureBuffer::Stop: error 0x88890004); " +
                    rig.Path() + " was finished with what was recorded before.");
    }
    EXPECT_EQ(rig.s.IsRecording, False);
    // A device that never stopped never completed the bytes behind its capture position.
    std::vector<uint8_t> expected = rig.capture.recorded();
    if (c.stop_fails) expected.resize(expected.size() - 441 * 4);
    if (c.removed_after) expected.resize(taken);
    EXPECT_EQ(rig.Data(), expected);
    EXPECT_EQ(U32At(rig.File(), 42), expected.size());
    // Each stop after delivery came back is news: the slow start, the freeze, the removal.
    ASSERT_EQ(rig.host.message_boxes.size(), 1u + c.removed_after + (c.start_delay_ms > 0))
        << testing::PrintToString(rig.host.message_boxes);
    const std::string& box = rig.host.message_boxes.back();
    if (c.removed_after) {
      EXPECT_NE(box.find("stopped or was removed (IDirectSoundCaptureBuffer::Stop: error"),
                std::string::npos)
          << box;
    }
    EXPECT_NE(box.find("the recording device "), std::string::npos) << box;
    EXPECT_NE(box.find("stopped or was removed"), std::string::npos) << box;
    EXPECT_NE(box.find(rig.Path() + " keeps what was recorded before"), std::string::npos) << box;
    EXPECT_EQ(box.find("host"), std::string::npos) << box;
  }
}

// Losses the clock cannot pin down, or that are too long to fill: a host that blocks right
// after Start while the position watch is held up too (a starved machine; the device may have
// started up to a second late) gets the certain part as silence and "at least" in the report;
// a stall of 75 s loses the 15 s beyond the minute the watch saves, gets 10 s of silence for
// them and says so. Either way the audio after the gap is whole
// and every word of the report is true.
TEST(MisbehavingHost, UncertainAndLongLossesAreToldAsSuch) {
  struct Case {
    int64_t stall_after_ms;  // take time at which the host stalls
    int64_t stall_ms;
    bool watch_held;
    const char* words;
    bool refused = false;  // instead of a stall, the device refuses Lock while ticks come
  };
  const Case cases[] = {
      {0, 2300, true, "private update wendrix Error: at least "},
      {2000, 75000, false,
       " holds 10.000 seconds of silence for them (a gap is filled with at most 10 "
       "seconds)"},
      {2000, 1500, false, "lost: the recording device refused to be read (its calls failed)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    RecorderRig rig;
    rig.StartNoise(37, 16);
    rig.Tick(static_cast<int>(c.stall_after_ms / 100));
    rig.capture.watch_held = c.watch_held;
    if (c.refused) {
      rig.capture.FailAlways(CaptureCall::Lock, Error::Platform(sim::kDsErrGeneric, "refused"));
      rig.Tick(static_cast<int>(c.stall_ms / 100));
      rig.capture.ClearFailures();
    } else {
      rig.capture.Advance(static_cast<int32_t>(c.stall_ms));
    }
    rig.capture.watch_held = false;
    rig.Drains(4);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    const std::vector<uint8_t>& recorded = rig.capture.recorded();
    const auto data = rig.Data();
    ASSERT_LE(data.size(), recorded.size());
    // Two seconds after the stall came whole, at the end of the take.
    const size_t tail = 2 * 176400;
    EXPECT_TRUE(std::equal(data.end() - tail, data.end(), recorded.end() - tail));
    // A refusal is told as it comes, the loss after it.
    ASSERT_EQ(rig.host.message_boxes.size(), c.refused ? 2u : 1u);
    EXPECT_NE(rig.host.message_boxes.back().find(c.words), std::string::npos)
        << rig.host.message_boxes.back();
  }
}

// A device whose bursts are longer than the ring (silent, then more than the ring at once) is
// told once, with a ring length that holds them; nothing is made up for what it wrote over.
TEST(MisbehavingHost, BurstsLongerThanTheRingAreToldOnce) {
  for (const auto& [ring, burst_frames, fits] :
       {std::tuple{176400, 66150u, "Set BufferLength to 5"},
        {17640, 6615u, "Set BufferLength to 5"}}) {
    SCOPED_TRACE(ring);
    RecorderRig rig;
    rig.SetRing(ring);
    rig.StartNoise(41, 64, burst_frames);
    rig.Tick(70);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_LE(rig.Data().size(), rig.capture.recorded().size());
    ASSERT_EQ(rig.host.message_boxes.size(), 1u) << testing::PrintToString(rig.host.message_boxes);
    EXPECT_NE(rig.host.message_boxes[0].find("delivers its audio in bursts of up to"),
              std::string::npos)
        << rig.host.message_boxes[0];
    EXPECT_NE(rig.host.message_boxes[0].find(fits), std::string::npos) << rig.host.message_boxes[0];
  }
}

// A ring buffer that never starts (every call succeeds, the positions never move) is made anew
// once the start delay has passed, and the take begins then; a device that delivers nothing at
// all is told, never a silent success. A header that takes its time costs nothing.
TEST(MisbehavingHost, ABufferThatNeverStartsIsMadeAnewAndNoAudioIsTold) {
  struct Case {
    const char* name;
    int dead_buffers;
    int ticks;
    const char* words;  // of the one box, or none
    int32_t header_ms = 0;
  };
  const Case cases[] = {
      {"never starts", 1, 30, nullptr},
      {"never delivers, 3 s", 2, 30,
       "the recording device delivered no audio during this "
       "recording: "},
      {"never delivers, 8 s", 2, 80, "the recording device has delivered no audio in the "},
      {"header takes 150 ms", 0, 30, nullptr, 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderRig rig;
    rig.capture.dead_buffers = c.dead_buffers;
    rig.files.on_header = [&] { rig.capture.Advance(c.header_ms); };
    rig.StartNoise(42, 16);
    rig.Tick(c.ticks);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.capture.buffers_created(), c.dead_buffers > 0 ? 2 : 1);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(rig.Data().empty(), c.dead_buffers > 1);
    ASSERT_EQ(rig.host.message_boxes.size(), c.words ? 1u : 0u)
        << testing::PrintToString(rig.host.message_boxes);
    if (c.words) {
      EXPECT_NE(rig.host.message_boxes[0].find(c.words), std::string::npos)
          << rig.host.message_boxes[0];
    }
  }
}

// The machine sleeps in the middle of a host's stall, or the user picks another default
// microphone: one report each, no silence, nothing of the device's audio lost.
// A sleep the system did not announce shows as a clock that jumped while neither the watch nor
// the device moved: a pause too.
TEST(MisbehavingHost, ASleepAndANewDefaultDeviceAreToldOnceAndCostNothing) {
  enum class What { Sleep, UnannouncedSleep, NewDevice };
  for (const What what : {What::Sleep, What::UnannouncedSleep, What::NewDevice}) {
    SCOPED_TRACE(static_cast<int>(what));
    RecorderRig rig;
    rig.StartNoise(38, 16);
    rig.Drains(3);
    rig.capture.Advance(300);
    if (what == What::Sleep) rig.capture.Suspend(30000000);
    if (what == What::NewDevice) rig.capture.ChangeDefaultDevice();
    if (what == What::UnannouncedSleep) {
      rig.capture.Freeze();
      rig.capture.watch_held = true;
      rig.capture.Advance(30000);
      rig.capture.watch_held = false;
      rig.capture.Advance(300);
      rig.capture.Resume();
    }
    rig.capture.Advance(300);
    rig.Drains(6);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    ASSERT_EQ(rig.host.message_boxes.size(), 1u) << testing::PrintToString(rig.host.message_boxes);
    EXPECT_NE(rig.host.message_boxes[0].find(what == What::NewDevice
                                                 ? "the default recording device changed"
                                                 : "the computer was asleep for 30."),
              std::string::npos)
        << rig.host.message_boxes[0];
  }
}

// A connected standby in the middle of a host's stall: the clock runs on and the device stops,
// but the system announced the suspension and the wake, so the time between is one pause.
// The device may deliver a little longer after "suspending", while the clock stands.
TEST(MisbehavingHost, AnAnnouncedStandbyIsAPauseNotALoss) {
  for (const int32_t delivers_ms : {0, 290}) {
    SCOPED_TRACE(delivers_ms);
    RecorderRig rig;
    rig.StartNoise(39, 16);
    rig.Drains(3);
    rig.capture.Advance(300);
    rig.capture.PowerSuspending();
    rig.capture.Advance(delivers_ms);
    rig.capture.Freeze();
    rig.capture.Advance(20000 - delivers_ms);
    rig.capture.PowerResumed();
    rig.capture.Resume();
    rig.capture.Advance(300);
    rig.Drains(6);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    ASSERT_EQ(rig.host.message_boxes.size(), 1u) << testing::PrintToString(rig.host.message_boxes);
    EXPECT_NE(rig.host.message_boxes[0].find("the computer was asleep for 20.000 seconds"),
              std::string::npos);
  }
}

// A device that fails on the way out (unplugged) does not keep any stop path from finishing
// the file and stopping the control; a failing Stop is raised after, and the next start works.
TEST(MisbehavingHost, EveryStopPathFinishesTheFileWhenTheDeviceFails) {
  enum class Path { Stop, UnInit, Init };
  for (const Path path : {Path::Stop, Path::UnInit, Path::Init}) {
    for (const CaptureCall failing :
         {CaptureCall::Stop, CaptureCall::Position, CaptureCall::Lock}) {
      SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << ", failing call "
                                      << static_cast<int>(failing));
      RecorderRig rig;
      rig.StartNoise(34);
      rig.Drains(2);
      rig.Tick(2);
      const size_t taken = rig.s.BytesRecorded;
      rig.capture.FailAlways(failing, Error::Platform(sim::kDsErrBufferLost, "buffer lost"));
      const auto run = [&] {
        switch (path) {
          case Path::Stop:
            return rig.control.Wendrix_Stop();
          case Path::UnInit:
            return rig.control.UnInit_DSWendrix();
          case Path::Init:
            return rig.control.Init_DSWendrix();
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

// A ring of `ring` bytes is refused at Init_DSWendrix with error 380 saying `text`, before
// anything is released: the recorder that was ready stays so.
void ExpectRingRefusedKeepingTheRecorder(RecorderRig& rig, int32_t ring, const std::string& text) {
  rig.control.Init_DSWendrix();
  rig.SetRing(ring);
  try {
    rig.control.Init_DSWendrix();
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 380);
    EXPECT_NE(e.description().find(text), std::string::npos) << e.description();
  }
  EXPECT_EQ(rig.s.DeviceReady, True);
  EXPECT_EQ(rig.capture.live_buffers(), 1);
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
        ExpectRingRefusedKeepingTheRecorder(rig, ring, "BufferLength must be at least 16540 bytes");
        EXPECT_EQ(rig.capture.buffers_created(), 1);
        continue;
      }
      rig.SetRing(ring);
      rig.StartNoise(35, 64);
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

// A ring longer than 131 s of audio is refused before anything is released, with the longest
// length that works; that one records.
TEST(MisbehavingHost, ARingLongerThanTheControlTakesIsRefusedWithTheLongestLength) {
  RecorderRig rig;
  rig.control.put_ShowVU(False);
  ExpectRingRefusedKeepingTheRecorder(rig, 23120928, "BufferLength must be at most 23120924 bytes");
  rig.SetRing(23120924);
  EXPECT_EQ(rig.control.Init_DSWendrix(), True);
  EXPECT_EQ(rig.host.interval(), 500);  // ticks every half second, as for any ring over a second
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
