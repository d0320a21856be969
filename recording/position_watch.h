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
// lands just behind the last position, within two packets of the furthest real time allows,
// or while the device is late on its best) is counted as a move; a watch held up counts the
// whole rings the clock makes certain, rounded down.
//
// Two threads use it: the watch's (Sample) and the drain's (Take), which count under one short
// lock. The drain reads the positions and the clock under it; the watch reads them before it
// and drops its sample when a drain's read came in between, so that samples are counted in the
// order they were taken and the drain never waits on the device for the watch.
//
// The spill. When the bytes delivered and not yet taken come so close to the ring's whole bytes
// that the device could write over them before the next sample, the watch copies them into its
// spill queue (up to a minute of audio) and counts them as taken. Take hands the saved blocks
// over first, oldest first, a bounded amount at a time; while some stay behind, what the ring
// holds joins them, so that the drain writes every byte in the order it was recorded. A drain
// held up by a busy host loses nothing within that minute.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/capture.h"
#include "recording/spill_queue.h"

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
    // The loss began when the spill had no room left (its budget or the memory), after it had
    // saved `saved_before` bytes since the drain last took them all.
    bool spill_full = false;
    int64_t saved_before = 0;
    // The newest of the bytes that went into the spill at this Take, behind the saved blocks
    // still held: they end at the read position and are still in the ring.
    int64_t queued = 0;
    // The spill still holds saved blocks after this Take: the drain comes back for them.
    bool backlog = false;
  };

  // The most the spill holds: a minute of audio.
  static constexpr int64_t kSpillSeconds = 60;

  // A watch on `buffer` (a ring of `ring` bytes, frames of `frame` bytes at `bytes_per_second`)
  // started at `start_us`, from its positions read right after that Start, when the clock
  // read `at`; the buffer and the clock must outlive it.
  PositionWatch(CaptureBuffer& buffer, CaptureSystem& clock, int64_t ring, int32_t frame,
                int32_t bytes_per_second, int64_t start_us, int32_t device_position,
                int32_t read_position, const CaptureSystem::ClockReading& at);

  // The watch thread's sample (WatchPosition); a failing or senseless read counts nothing.
  void Sample() noexcept;
  // The drain's read (GetCurrentPosition, which may throw): hands over the oldest saved blocks
  // (`most` bytes and the rest of a block; also when the read throws), samples once more and
  // hands over what came since the last Take and after the saved blocks, with the positions and
  // the time it read. When saved blocks stay behind, the count's bytes join them instead.
  Count Take(int32_t& device_position, int32_t& read_position, int64_t& now_us,
             std::deque<SpillQueue::Block>& saved, int64_t most);

  // Whether the device has not moved its positions at all since Start (sampled once more).
  bool Unmoved() noexcept;

  // Puts back a count a failed transfer could not use, before what came since: the next Take
  // hands it over again.
  void GiveBack(const Count& count);
  // The transfer that took the last count is over (after GiveBack, when it failed). Until
  // then the watch saves nothing, so that nothing it saves can come before the count's bytes.
  void Release();

  // The pace of the watch thread: a quarter of the ring.
  int64_t PeriodMicroseconds() const { return RingMicroseconds() / 4; }

  // The most bytes the spill held at once in this recording.
  int64_t SpillPeak();
  // For tests: the spill's allocations fail beyond `bytes`.
  void LimitSpillMemory(int64_t bytes);

 private:
  int64_t RingMicroseconds() const { return ring_ * 1000000 / rate_; }
  // Bytes the clock has let pass from Start to `us`, in whole frames.
  int64_t BytesSinceStart(int64_t us) const;
  // Counts one sample of positions inside the ring, read before the clock read `at`.
  void Add(int64_t device_position, int64_t read_position,
           const CaptureSystem::ClockReading& at);
  // Saves what is not yet taken, ending at `read_position`, when the ring could write over it
  // before the next sample (or, `now`, at once); false when the spill had no room.
  bool Spill(int64_t device_position, int64_t read_position, bool now);

  std::mutex mutex_;
  std::atomic<uint64_t> takes_{0};  // the drain's reads of the positions so far
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
  bool spill_refused_ = false;  // the spill had no room: it saves nothing more until the Take
  bool holding_ = false;        // the drain holds a count whose bytes are still in the ring
  SpillQueue spill_;
};

}  // namespace wendrix
