#include "recording/position_watch.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <utility>

#include "platform/error.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

// The shortest stand-still of both the watch and the device that counts as a pause (a machine
// that slept without saying so) rather than a watch held up.
constexpr int64_t kLeastPauseMicroseconds = 1000000;

// The least a step may move beyond the clock for the device's packets, before any step showed
// them: two periods of the audio engine, which delivers in whole periods (10 ms on most
// Windows devices and under Wine). Samples that keep in step with the packets see none of them
// beyond the clock, until the watch's timer or the device's clock slips by a packet.
constexpr int64_t kLeastPacketMicroseconds = 20000;

}  // namespace

PositionWatch::PositionWatch(CaptureBuffer& buffer, CaptureSystem& clock, int64_t ring,
                             int32_t frame, int32_t bytes_per_second, int64_t start_us,
                             int32_t device_position, int32_t read_position,
                             const CaptureSystem::ClockReading& at)
    : buffer_(buffer),
      clock_(clock),
      ring_(ring),
      frame_(std::max(frame, 1)),
      rate_(std::max(bytes_per_second, 1)),
      start_us_(start_us),
      first_read_(read_position),
      first_device_(device_position),
      last_read_(read_position),
      last_device_(device_position),
      last_us_(at.now_us),
      last_gap_(RingDistance(read_position, device_position, ring)),
      last_move_us_(at.now_us),
      suspended_us_(at.suspended_us),
      spill_(rate_ * kSpillSeconds) {}

int64_t PositionWatch::BytesSinceStart(int64_t us) const {
  const int64_t elapsed = std::max<int64_t>(us - start_us_, 0);
  return elapsed / 1000000 * rate_ + elapsed % 1000000 * rate_ / 1000000 / frame_ * frame_;
}

void PositionWatch::Sample() noexcept {
  try {
    // The positions are read outside the lock, so that the drain never waits while the device
    // answers the watch. A sample the drain's overtook meanwhile is older than the drain's and
    // is dropped: samples still count in the order they were taken.
    const uint64_t takes = takes_.load();
    int32_t device = 0;
    int32_t read = 0;
    buffer_.WatchPosition(device, read);
    const CaptureSystem::ClockReading at = clock_.ReadClock();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (takes_.load() != takes) return;
    if (device < 0 || device >= ring_ || read < 0 || read >= ring_) return;
    Add(device, read, at);
    // From the furthest read position: one that stepped back is not one.
    Spill(device, last_read_, false);
  } catch (...) {
    // A device that fails is the drain's to report.
  }
}

PositionWatch::Count PositionWatch::Take(int32_t& device_position, int32_t& read_position,
                                         int64_t& now_us, std::deque<SpillQueue::Block>& saved,
                                         int64_t most) {
  const std::lock_guard<std::mutex> lock(mutex_);
  saved = spill_.TakeFront(most);
  spill_refused_ = false;
  buffer_.GetCurrentPosition(device_position, read_position);
  const CaptureSystem::ClockReading at = clock_.ReadClock();
  now_us = at.now_us;
  takes_.fetch_add(1);  // after the read: a watch's read that began before it is older
  if (read_position < 0 || read_position >= ring_ || device_position < 0 ||
      device_position >= ring_) {
    throw Error(errc::InvalidProcedureCall,
                "IDirectSoundCaptureBuffer::GetCurrentPosition reported " +
                    std::to_string(device_position) + " and " + std::to_string(read_position) +
                    ", outside the ring buffer; ");
  }
  Add(device_position, read_position, at);
  // The count goes on from the furthest read position (one that stepped back is not one).
  read_position = static_cast<int32_t>(last_read_);
  // Saved blocks stay behind: what came since must follow them. Should the spill have no room
  // for it, everything goes to the drain now, in order.
  if (!spill_.empty() && !Spill(device_position, last_read_, true)) {
    for (SpillQueue::Block& block : spill_.TakeFront(INT64_MAX)) saved.push_back(std::move(block));
  }
  pending_.backlog = !spill_.empty();
  holding_ = pending_.contiguous > 0;
  return std::exchange(pending_, Count{});
}

void PositionWatch::Release() {
  const std::lock_guard<std::mutex> lock(mutex_);
  holding_ = false;
}

bool PositionWatch::Unmoved() noexcept {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    int32_t device = 0;
    int32_t read = 0;
    buffer_.WatchPosition(device, read);
    return total_ == 0 && read == first_read_ && device == first_device_ &&
           last_read_ == first_read_ && last_device_ == first_device_;
  } catch (...) {
    return false;  // a device that fails is the drain's to report
  }
}

void PositionWatch::GiveBack(const Count& count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  pending_.delivered += count.delivered;
  if (!pending_.reset) pending_.contiguous += count.contiguous;
  pending_.reset = pending_.reset || count.reset;
  pending_.at_least = pending_.at_least || count.at_least;
  pending_.paused_us += count.paused_us;
  pending_.burst_us = std::max(pending_.burst_us, count.burst_us);
  if (count.spill_full && !pending_.spill_full) pending_.saved_before = count.saved_before;
  pending_.spill_full = pending_.spill_full || count.spill_full;
}

int64_t PositionWatch::SpillPeak() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return spill_.peak_bytes();
}

void PositionWatch::LimitSpillMemory(int64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  spill_.LimitMemory(bytes);
}

bool PositionWatch::Spill(int64_t device_position, int64_t read_position, bool now) {
  if (pending_.delivered == 0) return true;
  const int64_t whole =
      std::max<int64_t>(ring_ - RingDistance(read_position, device_position, ring_), 0) / frame_ *
      frame_;
  if (!now) {
    if (holding_) return true;  // the drain has the count's bytes in hand: they go first
    // Until the next sample the device may deliver a period's worth and a packet (its bursts
    // beyond real time), and a device that stood still all it held back at once; the thread
    // may wake half a period late on a busy machine, or a timer tick (16 ms) late. Beyond that
    // margin below the whole bytes, the rest is saved now.
    const int64_t period = PeriodMicroseconds() * rate_ / 1000000;
    const int64_t held_back = (last_us_ - last_move_us_) * rate_ / 1000000;
    const int64_t margin = period + period / 2 + ahead_ + held_back + 20000 * rate_ / 1000000;
    if (spill_refused_ || pending_.contiguous == 0 || whole - pending_.contiguous > margin) {
      return true;
    }
  }
  const int64_t kept = std::min(pending_.contiguous, whole);
  // The oldest bytes first: what the budget has no room for stays in the ring (when it is the
  // watch's choice; the drain's wants all or nothing).
  const int64_t room = std::min(spill_.Room() / frame_ * frame_, kept);
  const int64_t saving = now ? (room == kept ? kept : 0) : room;
  const SpillQueue::Loss loss{pending_.delivered - kept, pending_.at_least, pending_.reset,
                              pending_.spill_full, pending_.saved_before};
  bool saved = false;
  if (kept == 0) {
    saved = spill_.Push(nullptr, 0, nullptr, 0, loss);
  } else if (saving > 0) {
    LockedRegion first;
    LockedRegion second;
    try {
      buffer_.Lock(static_cast<uint32_t>((read_position - kept + ring_) % ring_),
                   static_cast<uint32_t>(saving), first, second);
    } catch (const std::exception&) {
      return false;  // a device that refuses is the drain's to report; the ring keeps the bytes
    }
    saved = int64_t{first.size} + second.size == saving &&
            spill_.Push(first.data, first.size, second.data, second.size, loss);
    try {
      buffer_.Unlock(first, second);
    } catch (const std::exception&) {
    }
  }
  if (saved) {
    if (now) pending_.queued = kept;
    // What is left is the newest `kept - saving` bytes, which the ring still holds.
    pending_.delivered = kept - saving;
    pending_.contiguous = kept - saving;
    pending_.at_least = false;
    pending_.reset = false;
    pending_.spill_full = false;
    pending_.saved_before = 0;
    if (saving == kept) return true;
  }
  if (now) return false;  // the drain takes everything at once instead
  // No room (the budget, or the memory): what comes from now on is the ring's to keep, and what
  // it cannot keep is lost, told with what the spill saved.
  if (!pending_.spill_full) pending_.saved_before = spill_.bytes();
  pending_.spill_full = true;
  spill_refused_ = true;
  return false;
}

void PositionWatch::Add(int64_t device_position, int64_t read_position,
                        const CaptureSystem::ClockReading& at) {
  const int64_t now_us = at.now_us;
  const int64_t step_us = now_us - last_us_;
  const int64_t suspended = at.suspended_us;
  // A suspension announced since the last sample stopped the clock while the device may have
  // delivered a little longer: that time is allowed for, at the step whose clock left it out.
  const int64_t announced = std::max<int64_t>(suspended - suspended_us_, 0) * rate_ / 1000000;
  suspended_us_ = suspended;
  const int64_t step_moved = RingDistance(last_read_, read_position, ring_);
  if (step_us > std::max(RingMicroseconds() / 2, kLeastPauseMicroseconds) &&
      step_moved <= PeriodMicroseconds() * rate_ / 1000000 + 2 * frame_ + ahead_) {
    // Neither this watch nor the device moved while the clock ran on, but for what the device
    // delivered before the watch's next sample was due: the machine slept without saying so.
    // A pause, not a loss: its time leaves the count's clock.
    const int64_t pause = step_us - step_moved * 1000000 / rate_;
    start_us_ += pause;
    pending_.paused_us += pause;
    pending_.delivered += step_moved;
    pending_.contiguous += step_moved;
    total_ += step_moved;
    if (step_moved > 0) last_move_us_ = now_us;
    last_read_ = read_position;
    last_device_ = device_position;
    last_us_ = now_us;
    last_gap_ = RingDistance(read_position, device_position, ring_);
    return;
  }
  const int64_t clock = BytesSinceStart(now_us) - BytesSinceStart(last_us_);
  // The most the device can have delivered since the last sample: what brings it back to its
  // best lateness so far, beyond frames and the clock's own step, what lay between its
  // positions, the packets it delivers in (as many as any step showed, and at least
  // kLeastPacketMicroseconds' worth) and what an announced suspension left out.
  const int64_t steps = 2 * frame_ + 2000 * rate_ / 1000000 + last_gap_ + ahead_;
  const int64_t unseen_packets =
      std::max<int64_t>(kLeastPacketMicroseconds * rate_ / 1000000 - ahead_, 0);
  const int64_t most =
      BytesSinceStart(now_us) - total_ - least_late_ + steps + unseen_packets + announced;
  int64_t moved = RingDistance(last_read_, read_position, ring_);
  if (moved > clock + steps + announced && ring_ - moved <= ring_ / 64) {
    // A read position a little behind the last one (some drivers' positions flip between two
    // values): nothing came, and the furthest position is where the count goes on from. A
    // device catching up on all but this much of its ring in one step has overrun its ring by
    // then anyway; a reset that lands this little behind is not told from a flip.
    return;
  }
  const bool held = step_us > RingMicroseconds() / 2 && clock > moved;
  if (held) {
    // The watch was held up (a starved machine, a debugger): whole rings may have passed
    // unseen. Only those the clock makes certain count, rounded down: not the start delay a
    // device that had not begun may have used, nor the device's packets.
    const int64_t delay = total_ == 0 ? clock_.MaxStartDelayMicroseconds() * rate_ / 1000000 : 0;
    const int64_t certain = clock - delay - ahead_;
    if (certain > moved) moved += (certain - moved) / ring_ * ring_;
    pending_.at_least = true;
  }
  if (moved > most) {
    // Further than real time allows: the positions started over (from 0, as far as the time
    // allows). Within the start delay, though, a buffer started again may still be putting its
    // positions where this run begins (Wine's does, and may first move on from where the last
    // run left off): nothing came meanwhile, and what was counted before is not this run's.
    const int64_t since = read_position <= clock + steps ? read_position : 0;
    if (total_ == 0 || now_us - start_us_ <= clock_.MaxStartDelayMicroseconds()) {
      pending_.delivered = 0;
      total_ = 0;
      moved = since;
    } else {
      // What the device delivered unseen before it started over is what the clock let pass
      // since the last sample beyond what came since, less a packet: never its lateness.
      moved = std::max<int64_t>(clock - since - ahead_, 0) + since;
      pending_.reset = true;
    }
    pending_.contiguous = since;
  } else {
    if (moved > 0 && now_us - last_move_us_ > RingMicroseconds() &&
        moved > clock + steps + ring_ / 8) {
      // Silent for longer than the ring lasts, then faster than real time: a burst that may
      // not have fitted the ring.
      pending_.burst_us = std::max(pending_.burst_us, now_us - last_move_us_);
    }
    if (!held) ahead_ = std::max(ahead_, moved - clock);
    pending_.contiguous += moved;
  }
  pending_.delivered += moved;
  total_ += moved;
  least_late_ = std::min(least_late_, BytesSinceStart(now_us) - total_);
  if (moved > 0) last_move_us_ = now_us;
  last_read_ = read_position;
  last_device_ = device_position;
  last_us_ = now_us;
  last_gap_ = RingDistance(read_position, device_position, ring_);
}

}  // namespace wendrix
