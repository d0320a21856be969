#include <gtest/gtest.h>

#include <cstring>

#include "recording/ring.h"
#include "tests/native/recorder_fixture.h"

namespace wendrix::test {
namespace {

using sim::CaptureCall;
using sim::Signal;

TEST(RingArithmetic, DistanceSplitAndAdvance) {
  struct Case {
    int64_t offset, read, ring;
    int64_t n;
    uint32_t first, second;
    int64_t next;
  };
  const Case cases[] = {
      {150000, 20000, 176400, 46400, 26400, 20000, 20000},  // wrapped past the end
      {0, 88200, 176400, 88200, 88200, 0, 88200},
      {88200, 0, 176400, 88200, 88200, 0, 0},  // ends exactly at the ring's end
      {1000, 1000, 176400, 0, 0, 0, 1000},     // nothing new
      {0, 176399, 176400, 176399, 176399, 0, 176399},
      {176399, 176398, 176400, 176399, 1, 176398, 176398},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(RingDistance(c.offset, c.read, c.ring), c.n);
    const RingSplit split = SplitRing(static_cast<uint32_t>(c.offset), static_cast<uint32_t>(c.n),
                                      static_cast<uint32_t>(c.ring));
    EXPECT_EQ(split.first, c.first);
    EXPECT_EQ(split.second, c.second);
    EXPECT_EQ(AdvanceRingOffset(c.offset, c.n, c.ring), c.next);
  }
}

TEST(RingArithmetic, SampleBlockBoundsRoundHalvesToEven) {
  // n -> upper bound of SampleWords: n / 2 + 1 rounded half to even.
  const std::pair<int64_t, int32_t> bounds[] = {{8, 5}, {1, 2}, {3, 2},         {5, 4},
                                                {7, 4}, {9, 6}, {88200, 44101}, {11025, 5514}};
  for (const auto& [n, m] : bounds) EXPECT_EQ(SampleWordsUpperBound(n), m) << n;
  // first region -> word of the second region.
  const std::pair<uint32_t, int32_t> words[] = {{4, 2}, {5, 2}, {7, 4},
                                                {1, 0}, {3, 2}, {26400, 13200}};
  for (const auto& [first, k] : words) EXPECT_EQ(SecondRegionWord(first), k) << first;
}

TEST(RingArithmetic, WholeFramesUpToTheDataChunkLimit) {
  EXPECT_EQ(kMaxDataBytes, 2147483609);
  EXPECT_EQ(BytesThatFit(0, 176400, 4), 176400);
  EXPECT_EQ(BytesThatFit(kMaxDataBytes - 176400, 176400, 4), 176400);
  EXPECT_EQ(BytesThatFit(kMaxDataBytes - 1001, 5000, 4), 1000);
  EXPECT_EQ(BytesThatFit(kMaxDataBytes - 1001, 5000, 1), 1001);
  EXPECT_EQ(BytesThatFit(kMaxDataBytes - 3, 5000, 4), 0);
  EXPECT_EQ(BytesThatFit(kMaxDataBytes, 5000, 2), 0);
}

// A recording in progress whose next drain is driven by hand.
struct DrainRig : RecorderRig {
  DrainRig(int32_t rate, int32_t channels, int32_t bits, int32_t ring, Boolean show_vu = True) {
    SetFormat(rate, channels, bits);
    SetRing(ring);
    control.put_ShowVU(show_vu);
    control.Init_DSWendrix();
    control.Wendrix_Start(Path());
  }
  const std::vector<uint8_t>& Words() const {
    words_.resize(s.SampleWords.size() * 2);
    std::memcpy(words_.data(), s.SampleWords.data(), words_.size());
    return words_;
  }
  mutable std::vector<uint8_t> words_;
};

TEST(Drain, SixteenBitStereoBlockHasItsZeroTail) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.signal = Signal::Samples({100, -100, 0x1234, 0x7FFF});
  rig.capture.AdvanceFrames(2);
  rig.control.UpdateRecording();
  EXPECT_EQ(rig.s.SampleBytes,
            (std::vector<uint8_t>{100, 0, 0x9C, 0xFF, 0x34, 0x12, 0xFF, 0x7F, 0}));
  EXPECT_EQ(rig.s.SampleWords, (std::vector<int16_t>{100, -100, 0x1234, 0x7FFF, 0, 0}));
  EXPECT_EQ(rig.s.MeterDataReady, True);
  EXPECT_EQ(rig.s.BytesRecorded, 8);
  EXPECT_EQ(rig.s.DrainOffset, 8);
  EXPECT_EQ(rig.capture.CallsSince(0, "Unlock"), std::vector<std::string>{"Unlock 8+0"});
}

TEST(Drain, OddFirstRegionsPutTheSecondHalfAWordOff) {
  struct Case {
    uint32_t first_region;
    std::vector<uint8_t>
        words;  // SampleWords as bytes, the first region's bytes as 1.., the second's as 101..
  };
  const Case cases[] = {
      // 5 bytes: the second region lands on word 2, over the fifth byte.
      {5, {1, 2, 3, 4, 101, 102, 103, 104, 105, 0, 0, 0, 0, 0}},
      // 7 bytes: it lands on word 4, after a zero byte.
      {7, {1, 2, 3, 4, 5, 6, 7, 0, 101, 102, 103, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_region);
    // 8-bit mono on a 40-byte ring, meter hidden (an interval of 2 ms).
    DrainRig rig(11025, 1, 8, 40, False);
    // The watch saves nothing here: the drain takes both regions from the ring itself.
    rig.capture.watch_held = true;
    const uint32_t to_seam = 40 - c.first_region;
    const uint32_t second = 10 - c.first_region;
    std::vector<int32_t> samples(to_seam, 7);
    for (uint32_t i = 1; i <= c.first_region; ++i) samples.push_back(static_cast<int32_t>(i));
    for (uint32_t i = 1; i <= second; ++i) samples.push_back(static_cast<int32_t>(100 + i));
    rig.capture.signal = Signal::Samples(samples);
    rig.capture.AdvanceFrames(to_seam);
    rig.control.UpdateRecording();
    ASSERT_EQ(rig.s.DrainOffset, static_cast<int32_t>(to_seam));
    rig.capture.AdvanceFrames(10);
    rig.control.UpdateRecording();

    std::vector<uint8_t> bytes;
    for (uint32_t i = 1; i <= c.first_region; ++i) bytes.push_back(static_cast<uint8_t>(i));
    for (uint32_t i = 1; i <= second; ++i) bytes.push_back(static_cast<uint8_t>(100 + i));
    bytes.push_back(0);
    EXPECT_EQ(rig.s.SampleBytes, bytes) << "the file's bytes have no seam";
    EXPECT_TRUE(rig.s.SampleWords.empty()) << "nothing reads the words of a hidden meter";
    rig.control.MakeSampleWords();
    EXPECT_EQ(rig.Words(), c.words);
    EXPECT_EQ(rig.s.DrainOffset, static_cast<int32_t>(second));
    rig.control.Wendrix_Stop();
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(rig.File().size(), 46u + to_seam + 10) << "no pad byte";
  }
}

// A block drained while the meter was hidden is measured as any other once the meter is shown;
// the transfers reuse the block's memory.
TEST(Drain, AHiddenMeterTakesTheWordsOnlyWhenShown) {
  DrainRig hidden(44100, 2, 16, 176400, False);
  DrainRig shown(44100, 2, 16, 176400);
  const uint8_t* block = nullptr;
  for (int ms : {10, 5}) {
    for (DrainRig* rig : {&hidden, &shown}) {
      rig->capture.signal = Signal::Noise(5);
      rig->capture.Advance(ms);
      rig->control.UpdateRecording();
    }
    if (!block) block = hidden.s.SampleBytes.data();
  }
  EXPECT_EQ(hidden.s.SampleBytes.data(), block);
  EXPECT_EQ(hidden.s.SampleBytes, shown.s.SampleBytes);
  EXPECT_TRUE(hidden.s.SampleWords.empty());
  hidden.control.put_ShowVU(True);
  for (float p : {0.2f, 0.4f, 0.6f, 0.8f, 1.0f}) {
    hidden.control.MeterSlice(p);
    shown.control.MeterSlice(p);
    EXPECT_EQ(hidden.s.LevelLeftDb, shown.s.LevelLeftDb) << p;
    EXPECT_EQ(hidden.s.LevelRightDb, shown.s.LevelRightDb) << p;
  }
  EXPECT_EQ(hidden.s.SampleWords, shown.s.SampleWords);
}

TEST(Drain, NothingNewLeavesTheBlockAndCountsAlone) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.signal = Signal::Noise(1);
  rig.capture.Advance(10);
  rig.control.UpdateRecording();
  const auto block = rig.s.SampleWords;
  const int32_t recorded = rig.s.BytesRecorded;
  const size_t mark = rig.capture.calls.size();
  rig.control.UpdateRecording();
  EXPECT_EQ(rig.capture.CallsSince(mark), std::vector<std::string>{"GetCurrentPosition 1764 1764"});
  EXPECT_EQ(rig.s.SampleWords, block);
  EXPECT_EQ(rig.s.BytesRecorded, recorded);
}

TEST(Drain, ABusyDrainKeepsOthersOut) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.Advance(10);
  rig.s.DrainBusy = True;
  const size_t mark = rig.capture.calls.size();
  rig.control.UpdateRecording();
  EXPECT_EQ(rig.capture.calls.size(), mark);
  rig.s.DrainBusy = False;
  rig.control.UpdateRecording();
  EXPECT_EQ(rig.s.BytesRecorded, 1764);
}

// A device call that fails once is reported in one box; the drain takes the same bytes again
// on the next tick, so nothing the device recorded is lost.
TEST(Drain, AFailingDeviceCallIsReportedOnceAndNothingIsLost) {
  struct Case {
    CaptureCall call;
    const char* text;
  };
  const Case cases[] = {
      {CaptureCall::Position, "private update wendrix Error: IDirectSoundCaptureBuffer: failed0"},
      {CaptureCall::Lock, "private update wendrix Error: IDirectSoundCaptureBuffer: failed88200"},
      {CaptureCall::Unlock,
       "private update wendrix Error: IDirectSoundCaptureBuffer: failed88200"},
  };
  for (const Boolean show_vu : {True, False}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(c.call) << " ShowVU " << show_vu);
      DrainRig rig(44100, 2, 16, 176400, show_vu);
      rig.capture.signal = Signal::Noise(12);
      rig.capture.read_lag_frames = 32;
      rig.Drains(1);
      // The second drain fails three times in a row (it is tried again on every tick).
      rig.capture.FailAlways(
          c.call, Error::Platform(sim::kDsErrGeneric, "IDirectSoundCaptureBuffer: failed"));
      rig.Drains(1);
      rig.Tick(2);
      rig.capture.ClearFailures();
      rig.Drains(3);
      EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      EXPECT_EQ(rig.host.message_boxes, std::vector<std::string>{c.text});
      EXPECT_EQ(rig.Data(), rig.capture.recorded());
      // Every lock the drain took is given back (a refused unlock keeps its region locked).
      if (c.call != CaptureCall::Unlock) {
        EXPECT_EQ(rig.capture.buffer()->outstanding_locks(), 0);
      }
      // The interval is back to normal.
      EXPECT_EQ(rig.host.interval(), show_vu ? 100 : 500);
    }
  }
}

// Three seconds of exact digital silence from the device (0, or 128 in 8-bit samples) are told
// once per Init_DSWendrix, and the take goes on; a start with sound in it is not told.
TEST(Drain, ASilentStartIsToldOncePerInitAndTheTakeGoesOn) {
  for (const int32_t bits : {16, 8}) {
    SCOPED_TRACE(bits);
    DrainRig rig(44100, 2, bits, 44100 * bits / 4);
    rig.Drains(5);
    EXPECT_TRUE(rig.host.message_boxes.empty());
    rig.Drains(6);
    ASSERT_EQ(rig.host.message_boxes.size(), 1u);
    EXPECT_NE(rig.host.message_boxes[0].find("are exact digital silence: the microphone may be "
                                             "muted or disabled"),
              std::string::npos);
    EXPECT_NE(rig.host.message_boxes[0].find("Privacy & security > Microphone"), std::string::npos);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(rig.Data().size(), 44100u * bits / 4 * 11 / 2);
    const auto take = [&rig](Signal signal) {
      rig.capture.signal = std::move(signal);
      rig.control.Wendrix_Start(rig.Path());
      rig.Drains(8);
      rig.control.Wendrix_Stop();
    };
    take(Signal::Silence());
    EXPECT_EQ(rig.host.message_boxes.size(), 1u);
    rig.control.Init_DSWendrix();
    take(Signal::Samples({0, 0, 0, 1}));
    take(Signal::Silence());
    EXPECT_EQ(rig.host.message_boxes.size(), 2u);
  }
}

TEST(Drain, ALastingFailureIsReportedOncePerCause) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.read_lag_frames = 32;
  rig.capture.signal = Signal::Noise(14);
  // Retried on every tick, the lock fails three times and the position twice, in less than
  // the ring lasts, so nothing is lost meanwhile.
  rig.capture.FailAlways(CaptureCall::Lock, Error::Platform(sim::kDsErrGeneric, "lock refused"));
  rig.Tick(7);
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  // Another cause is news.
  rig.capture.ClearFailures();
  rig.capture.FailAlways(CaptureCall::Position, Error::Platform(sim::kDsErrGeneric, "no position"));
  rig.Tick(2);
  EXPECT_EQ(rig.host.message_boxes.size(), 2u);
  // After a transfer that worked, the same cause is news again.
  rig.capture.ClearFailures();
  rig.Tick(1);
  rig.capture.FailAlways(CaptureCall::Position, Error::Platform(sim::kDsErrGeneric, "no position"));
  rig.Drains(1);
  EXPECT_EQ(rig.host.message_boxes.size(), 3u);
  EXPECT_EQ(rig.host.message_boxes.back(), "private update wendrix Error: no position0");
  // Unread for 2.1 s: the watch saved what the device would have written over, so the
  // transfer that works again loses nothing and tells nothing more.
  rig.Drains(3);
  rig.capture.ClearFailures();
  rig.Drains(4);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(rig.host.message_boxes.size(), 3u) << rig.host.message_boxes.back();
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
}

// The host delivers ticks while the drain's report is open, for two rings (a user slow to
// press OK): the transfers go on beneath the box, no second box comes, and the recording has
// no gap. The header follows the file beneath the box too (a host killed with the box open).
TEST(Drain, AReportThatLetsTicksThroughLosesNothing) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.signal = Signal::Noise(13);
  int ticks_in_box = 0;
  size_t transfers_in_box = 0;
  rig.host.on_message_box = [&](const std::string&) {
    EXPECT_EQ(rig.s.DrainBusy, False);
    const size_t mark = rig.capture.calls.size();
    const int64_t before = rig.s.BytesRecorded;
    rig.Drains(4);
    ticks_in_box += 20;
    transfers_in_box = rig.capture.CallsSince(mark, "Lock").size();
    EXPECT_GT(rig.s.BytesRecorded, before + 176400);
    EXPECT_GE(U32At(rig.File(), 42) + 44100, rig.s.BytesRecorded);  // a quarter second apart
  };
  rig.Drains(1);
  rig.capture.FailNext(CaptureCall::Unlock, Error::Platform(sim::kDsErrGeneric, "unlock failed"));
  rig.Drains(1);
  EXPECT_EQ(ticks_in_box, 20);
  EXPECT_GE(transfers_in_box, 4u);
  EXPECT_EQ(rig.s.DrainBusy, False);
  rig.Drains(2);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
}

// A stop that comes while the drain's report is open (a level handler during the box) still
// takes the tail.
TEST(Drain, AStopDuringTheReportStillTakesTheTail) {
  DrainRig rig(44100, 2, 16, 176400);
  rig.capture.signal = Signal::Noise(14);
  rig.host.on_message_box = [&](const std::string&) {
    rig.capture.Advance(100);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  };
  rig.Drains(2);
  rig.capture.FailNext(CaptureCall::Lock, Error::Platform(sim::kDsErrGeneric, "lock failed"));
  rig.Drains(1);
  EXPECT_EQ(rig.s.IsRecording, False);
  EXPECT_EQ(rig.s.DrainBusy, False);
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
  EXPECT_EQ(rig.capture.recorded().size(), 16u * 17640);
}

}  // namespace
}  // namespace wendrix::test
