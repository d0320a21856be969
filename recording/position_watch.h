// The position watch: counts the bytes a running ring buffer delivers from samples of its read
// position, taken often enough (a quarter of the ring apart, on a thread of its own) that the
// position cannot wrap unseen. The drain asks it how much came since its last read; what the
// count holds beyond the ring's whole bytes was written over, exactly.
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
  const int64_t start_us_;
  int64_t last_read_ = 0;   // the read position of the last sample
  int64_t last_us_ = 0;     // its time
  int64_t last_gap_ = 0;    // how far the capture position ran ahead of the read position
  int64_t total_ = 0;       // bytes delivered since Start
  int64_t least_late_ = 0;  // the least the device has lagged the clock since Start, in bytes
  Count pending_;           // what came since the last Take
};

}  // namespace wendrix
