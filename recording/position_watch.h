// The position watch: counts the bytes a running ring buffer delivers from samples of its read
// position, taken often enough (a quarter of the ring apart, on a thread of its own) that the
// position cannot wrap unseen. The drain asks it how much came since its last read; what the
// count holds beyond the ring's whole bytes was written over, exactly.
//
// Its order of truth: never invent a loss, then never hide one. A device that is late, bursty,
// catches up after a hiccup or reports a read position a little behind the last one moves no
// faster than its best lateness so far allows, and is counted as it moves. A position that
// moved further than that started over (a driver reset); what that cost is what the device
// delivered unseen before it, judged from the clock since the last sample less the device's
// packets, never from its lateness. A reset that real time cannot tell from those (one that
// lands just behind the last position, or while the device is late on its best) is counted as
// a move; a watch held up counts the whole rings the clock makes certain, rounded down.
//
// Two threads use it: the watch's (Sample) and the drain's (Take). Each reads the positions and
// the clock under one short lock, so that samples are counted in the order they were taken.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/capture.h"

namespace wendrix {

class PositionWatch {
 public:
  // What came since the last Take.
  struct Count {
    int64_t delivered = 0;   // bytes the device delivered, including those a reset cost
    int64_t contiguous = 0;  // the newest of them, which end at the read position in ring order
    bool at_least = false;   // samples lay too far apart: the clock counted whole rings
    bool reset = false;      // the positions started over: what came before is out of reach
    // Time in which neither the watch nor the device moved while the clock ran on (a machine
    // that slept without announcing it): a pause, left out of the count's clock.
    int64_t paused_us = 0;
    // The longest the device stayed silent before a step faster than real time, when that was
    // longer than the ring lasts: its bursts may not fit the ring (0: none seen).
    int64_t burst_us = 0;
  };

  // A watch on `buffer` (a ring of `ring` bytes, frames of `frame` bytes at `bytes_per_second`)
  // started at `start_us`, from its positions read right after that Start at `now_us`; the
  // buffer and the clock must outlive it.
  PositionWatch(CaptureBuffer& buffer, CaptureSystem& clock, int64_t ring, int32_t frame,
                int32_t bytes_per_second, int64_t start_us, int32_t device_position,
                int32_t read_position, int64_t now_us);

  // The watch thread's sample (WatchPosition); a failing or senseless read counts nothing.
  void Sample() noexcept;
  // The drain's read (GetCurrentPosition, which may throw): samples once more and hands over
  // what came since the last Take, with the positions and the time it read.
  Count Take(int32_t& device_position, int32_t& read_position, int64_t& now_us);

  // Whether the device has not moved its positions at all since Start (sampled once more).
  bool Unmoved() noexcept;

  // Puts back a count a failed transfer could not use, before what came since: the next Take
  // hands it over again.
  void GiveBack(const Count& count);

  // The pace of the watch thread: a quarter of the ring.
  int64_t PeriodMicroseconds() const { return RingMicroseconds() / 4; }

 private:
  int64_t RingMicroseconds() const { return ring_ * 1000000 / rate_; }
  // Bytes the clock has let pass from Start to `us`, in whole frames.
  int64_t BytesSinceStart(int64_t us) const;
  // Counts one sample of positions inside the ring.
  void Add(int64_t device_position, int64_t read_position, int64_t now_us);

  std::mutex mutex_;
  CaptureBuffer& buffer_;
  CaptureSystem& clock_;
  const int64_t ring_;
  const int64_t frame_;
  const int64_t rate_;
  int64_t start_us_;  // moves on by the pauses the watch saw
  const int64_t first_read_;
  const int64_t first_device_;
  int64_t last_read_ = 0;     // the read position of the last sample that counted
  int64_t last_device_ = 0;   // and its capture position
  int64_t last_us_ = 0;       // its time
  int64_t last_gap_ = 0;      // how far the capture position ran ahead of the read position
  int64_t last_move_us_ = 0;  // when the read position last moved
  int64_t suspended_us_ = 0;  // the clock's announced suspensions at the last sample
  int64_t total_ = 0;         // bytes delivered since Start
  int64_t least_late_ = 0;    // the least the device has lagged the clock since Start, in bytes
  int64_t ahead_ = 0;  // the most one step moved beyond the clock's time: the device's packets
  Count pending_;      // what came since the last Take
};

}  // namespace wendrix
