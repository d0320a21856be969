// The position watch between its threads: the watch reads the device and the clock outside the
// lock the drain takes, so a drain may read and count, and a suspension be counted, between the
// watch's reads and its count.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "recording/position_watch.h"

namespace wendrix::test {
namespace {

constexpr int32_t kRate = 176400;  // 44100 Hz, 2 channels, 16 bits
constexpr int64_t kRing = kRate;   // one second

// A device that delivers at the pace of its clock, which leaves out `suspended`, in packets
// of `packet_us`, each complete `early_us` before its end on the clock (its first held audio
// from before the start); the hooks run once, after the watch's next read of the positions or
// of the clock was answered.
class SteadyDevice : public CaptureBuffer, public CaptureSystem {
 public:
  int64_t now = 0;
  int64_t suspended = 0;
  int64_t packet_us = 1;
  int64_t early_us = 0;
  std::function<void()> on_watch;
  std::function<void()> on_clock;

  int64_t Delivered() const {
    return (now + early_us) / packet_us * packet_us * kRate / 1000000 / 4 * 4;
  }
  void GetCurrentPosition(int32_t& device_position, int32_t& read_position) override {
    device_position = read_position = static_cast<int32_t>(Delivered() % kRing);
  }
  void WatchPosition(int32_t& device_position, int32_t& read_position) override {
    GetCurrentPosition(device_position, read_position);
    if (on_watch) std::exchange(on_watch, nullptr)();
  }
  int64_t NowMicroseconds() override { return now - suspended; }
  int64_t SuspendedMicroseconds() override { return suspended; }
  ClockReading ReadClock() override {
    const ClockReading reading{now - suspended, suspended};
    if (on_clock) std::exchange(on_clock, nullptr)();
    return reading;
  }
  void Start(uint32_t) override {}
  void Stop() override {}
  void Lock(uint32_t, uint32_t, LockedRegion&, LockedRegion&) override { FAIL(); }
  void Unlock(const LockedRegion&, const LockedRegion&) override {}
  uint32_t RingLength() override { return kRing; }
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override { return nullptr; }
};

// The drain's transfer of what came, which must be no reset: the device in these tests never
// starts its positions over.
int64_t TakeAll(PositionWatch& watch, int64_t at_us) {
  int32_t position = 0;
  int32_t read = 0;
  int64_t now = 0;
  std::deque<SpillQueue::Block> saved;
  const PositionWatch::Count count = watch.Take(position, read, now, saved, INT64_MAX);
  watch.Release();
  EXPECT_FALSE(count.reset) << "at " << at_us << " us";
  EXPECT_TRUE(saved.empty());
  return count.delivered;
}

// What comes between the watch's reads and its count invents no reset:
// - the drain reads and counts while the watch's read of 100 ms before is still on its way to
//   the count: that older sample must not count after the drain's, where it would look like
//   positions that started over;
// - a standby announced and over meanwhile: the clock stands for it while the device, awake,
//   delivers 100 ms. That time is allowed for at the next step, whose clock left it out, not at
//   the sample read before it (where the next step would look faster than real time);
// - a device in 10 ms packets, whose samples kept in step with them, each just before a packet,
//   until the watch's timer slips and one comes just after: a packet ahead of the best lateness
//   the device showed so far, and beyond any step before.
TEST(PositionWatch, NoResetIsInventedBetweenTheWatchsReadsAndItsCount) {
  enum Case { kDrainOvertakes, kStandbyMidSample, kPacketsInStep };
  const char* const names[] = {"the drain overtakes", "a standby mid-sample", "packets in step"};
  for (const Case c : {kDrainOvertakes, kStandbyMidSample, kPacketsInStep}) {
    SCOPED_TRACE(names[c]);
    SteadyDevice device;
    device.packet_us = c == kPacketsInStep ? 10000 : 1;
    device.early_us = c == kPacketsInStep ? 9800 : 0;
    PositionWatch watch(device, device, kRing, 4, kRate, 0, 0, 0, {});
    int64_t delivered = 0;
    for (int64_t ms = 250; ms <= 3000; ms += 250) {
      device.now = ms * 1000 + device.suspended;
      if (c == kPacketsInStep) device.now += ms < 2250 ? -100 : 300;
      if (ms == 2000 && c == kDrainOvertakes) {  // the watch reads at 2.0 s, the drain at 2.1 s
        device.on_watch = [&] {
          device.now += 100000;
          delivered += TakeAll(watch, device.now);
          device.now -= 100000;
        };
        watch.Sample();
        device.now += 100000;
      }
      if (ms == 2250 && c == kStandbyMidSample) {
        device.on_clock = [&] { device.now += 100000, device.suspended += 100000; };
      }
      if (ms % 500 == 0) {
        delivered += TakeAll(watch, device.now);
      } else {
        watch.Sample();
      }
    }
    EXPECT_EQ(delivered, device.Delivered());
  }
}

}  // namespace
}  // namespace wendrix::test
