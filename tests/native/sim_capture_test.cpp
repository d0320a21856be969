#include "platform/sim/sim_capture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wendrix::sim {
namespace {

WaveFormat Pcm(int32_t rate, int16_t channels, int16_t bits) {
  WaveFormat f;
  f.wFormatTag = 1;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<int16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

struct Rig {
  SimCaptureSystem system;
  WaveFormat format;
  std::shared_ptr<CaptureDevice> device;
  std::shared_ptr<CaptureBuffer> buffer;

  Rig(WaveFormat f, uint32_t ring) : format(f) {
    device = system.CreateDefaultDevice();
    buffer = device->CreateCaptureBuffer(CaptureBufferDesc{20, 0, ring, 0, &format});
  }
  std::pair<int32_t, int32_t> Positions() {
    int32_t device_position = -1;
    int32_t read_position = -1;
    buffer->GetCurrentPosition(device_position, read_position);
    return {device_position, read_position};
  }
  // The bytes of the ring from `offset`, `bytes` long, through a Lock.
  std::vector<uint8_t> Read(uint32_t offset, uint32_t bytes) {
    LockedRegion first;
    LockedRegion second;
    buffer->Lock(offset, bytes, first, second);
    std::vector<uint8_t> out(first.data, first.data + first.size);
    if (second.size) out.insert(out.end(), second.data, second.data + second.size);
    buffer->Unlock(first, second);
    return out;
  }
};

TEST(SimCapture, FillsAtTheByteRateInWholeFramesWithoutDrift) {
  Rig rig(Pcm(11025, 2, 16), 44100);
  rig.buffer->Start(kCaptureStartLooping);
  // 11025 Hz: 1102.5 frames per 100 ms; whole frames only, the half carried to the next step.
  rig.system.Advance(100);
  EXPECT_EQ(rig.Positions(), std::make_pair(1102 * 4, 1102 * 4));
  rig.system.Advance(100);
  EXPECT_EQ(rig.Positions(), std::make_pair(2205 * 4, 2205 * 4));
  EXPECT_EQ(rig.system.recorded().size(), 2205u * 4);
}

TEST(SimCapture, LockGivesTwoRegionsOverTheRingsEndAndTheyHoldWhatWasRecorded) {
  Rig rig(Pcm(44100, 1, 16), 1000);
  rig.system.signal = Signal::Noise(7);
  rig.buffer->Start(kCaptureStartLooping);
  rig.system.AdvanceFrames(700);  // 1400 bytes: wrapped once, device at 400
  EXPECT_EQ(rig.Positions(), std::make_pair(400, 400));
  const auto& truth = rig.system.recorded();
  ASSERT_EQ(truth.size(), 1400u);
  // The last 1000 bytes written start at offset 400 and wrap at 1000.
  const auto data = rig.Read(400, 1000);
  EXPECT_EQ(data, std::vector<uint8_t>(truth.end() - 1000, truth.end()));
  EXPECT_EQ(rig.system.calls.back(), "Unlock 600+400");
  EXPECT_EQ(rig.system.CallsSince(0, "Lock"), std::vector<std::string>{"Lock 400 1000 = 600+400"});
}

TEST(SimCapture, LockRefusesARangeOutsideTheRingAndUnlockAnUnknownRegion) {
  Rig rig(Pcm(22050, 1, 8), 100);
  LockedRegion first;
  LockedRegion second;
  EXPECT_THROW(rig.buffer->Lock(100, 1, first, second), Error);
  EXPECT_THROW(rig.buffer->Lock(0, 101, first, second), Error);
  EXPECT_THROW(rig.buffer->Unlock(first, second), Error);  // nothing locked
  rig.buffer->Lock(90, 20, first, second);
  const uint8_t elsewhere[4] = {};
  EXPECT_THROW(rig.buffer->Unlock(LockedRegion{elsewhere, 4}, second), Error);
  rig.buffer->Unlock(first, second);
  EXPECT_EQ(rig.system.buffer()->outstanding_locks(), 0);
}

TEST(SimCapture, SignalsAreEncodedAsTheFormatStoresThem) {
  {
    Rig rig(Pcm(44100, 2, 16), 4000);
    rig.system.signal = Signal::Samples({1, -2, 0x1234, -32768});
    rig.buffer->Start(kCaptureStartLooping);
    rig.system.AdvanceFrames(3);
    EXPECT_EQ(rig.system.recorded(),
              (std::vector<uint8_t>{1, 0, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80, 1, 0, 0xFE, 0xFF}));
  }
  {
    Rig rig(Pcm(11025, 1, 8), 100);
    rig.buffer->Start(kCaptureStartLooping);  // silence
    rig.system.AdvanceFrames(4);
    EXPECT_EQ(rig.system.recorded(), (std::vector<uint8_t>{128, 128, 128, 128}));
  }
  {
    // A quarter-rate sine on the right channel only: 0, peak, 0, -peak.
    Rig rig(Pcm(8000, 2, 8), 100);
    rig.system.signal = Signal::Sines({{0, 0}, {2000, 0.5}});
    rig.buffer->Start(kCaptureStartLooping);
    rig.system.AdvanceFrames(4);
    EXPECT_EQ(rig.system.recorded(), (std::vector<uint8_t>{128, 128, 128, 192, 128, 128, 128, 64}));
  }
}

TEST(SimCapture, ReadPositionLagsWhileRunningAndCatchesUpAtStop) {
  Rig rig(Pcm(44100, 2, 16), 17640);
  rig.system.read_lag_frames = 10;
  rig.buffer->Start(kCaptureStartLooping);
  rig.system.AdvanceFrames(5);
  EXPECT_EQ(rig.Positions(), std::make_pair(20, 0));  // never behind where it started
  rig.system.AdvanceFrames(100);
  EXPECT_EQ(rig.Positions(), std::make_pair(420, 380));
  rig.buffer->Stop();
  EXPECT_EQ(rig.Positions(), std::make_pair(420, 420));
  rig.system.Advance(1000);
  EXPECT_EQ(rig.Positions(), std::make_pair(420, 420));
  EXPECT_EQ(rig.system.recorded().size(), 420u);
}

TEST(SimCapture, PositionsAcrossStopAndStartContinueOrRestartAsConfigured) {
  for (const bool restart : {false, true}) {
    Rig rig(Pcm(44100, 1, 16), 1000);
    rig.system.restart_positions_on_start = restart;
    rig.system.signal = Signal::Noise(1);
    rig.buffer->Start(kCaptureStartLooping);
    rig.system.AdvanceFrames(150);
    rig.buffer->Stop();
    const auto first_run = rig.system.recorded();
    rig.buffer->Start(kCaptureStartLooping);
    EXPECT_TRUE(rig.system.recorded().empty()) << "the record starts again at Start";
    const int32_t begin = restart ? 0 : 300;
    EXPECT_EQ(rig.Positions(), std::make_pair(begin, begin));
    rig.system.AdvanceFrames(10);
    EXPECT_EQ(rig.Positions(), std::make_pair(begin + 20, begin + 20));
    // The signal runs on: the second run is not a copy of the first.
    EXPECT_NE(std::vector<uint8_t>(first_run.begin(), first_run.begin() + 20),
              rig.system.recorded());
  }
}

TEST(SimCapture, ANewBufferStartsAtZeroOrWhereTheLastOneWas) {
  for (const bool continues : {false, true}) {
    Rig rig(Pcm(44100, 2, 16), 176400);
    rig.system.new_buffer_continues = continues;
    rig.buffer->Start(kCaptureStartLooping);
    rig.system.AdvanceFrames(37500);  // device at 150000
    rig.buffer.reset();               // released without a Stop
    EXPECT_EQ(rig.system.live_buffers(), 0);
    rig.buffer = rig.device->CreateCaptureBuffer(CaptureBufferDesc{20, 0, 22052, 0, &rig.format});
    // 150000 modulo 22052 is 17688, a whole number of 4-byte frames.
    const int32_t expected = continues ? 17688 : 0;
    EXPECT_EQ(rig.Positions(), std::make_pair(expected, expected));
  }
}

}  // namespace
}  // namespace wendrix::sim
