#include "recording/position_watch.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/error.h"
#include "recording/ring.h"

namespace wendrix {

PositionWatch::PositionWatch(CaptureBuffer& buffer, CaptureSystem& clock, int64_t ring,
                             int32_t frame, int32_t bytes_per_second, int64_t start_us,
                             int32_t device_position, int32_t read_position, int64_t now_us)
    : buffer_(buffer),
      clock_(clock),
      ring_(ring),
      frame_(std::max(frame, 1)),
      rate_(std::max(bytes_per_second, 1)),
      start_us_(start_us),
      last_read_(read_position),
      last_us_(now_us),
      last_gap_(RingDistance(read_position, device_position, ring)) {}

int64_t PositionWatch::BytesSinceStart(int64_t us) const {
  const int64_t elapsed = std::max<int64_t>(us - start_us_, 0);
  return elapsed / 1000000 * rate_ + elapsed % 1000000 * rate_ / 1000000 / frame_ * frame_;
}

void PositionWatch::Sample() noexcept {
  try {
    const std::lock_guard<std::mutex> lock(mutex_);
    int32_t device = 0;
    int32_t read = 0;
    buffer_.WatchPosition(device, read);
    const int64_t now = clock_.NowMicroseconds();
    if (device < 0 || device >= ring_ || read < 0 || read >= ring_) return;
    Add(device, read, now);
  } catch (...) {
    // A device that fails is the drain's to report.
  }
}

PositionWatch::Count PositionWatch::Take(int32_t& device_position, int32_t& read_position,
                                         int64_t& now_us) {
  const std::lock_guard<std::mutex> lock(mutex_);
  buffer_.GetCurrentPosition(device_position, read_position);
  now_us = clock_.NowMicroseconds();
  if (read_position < 0 || read_position >= ring_ || device_position < 0 ||
      device_position >= ring_) {
    throw Error(errc::InvalidProcedureCall,
                "IDirectSoundCaptureBuffer::GetCurrentPosition reported " +
                    std::to_string(device_position) + " and " + std::to_string(read_position) +
                    ", outside the ring buffer; ");
  }
  Add(device_position, read_position, now_us);
  return std::exchange(pending_, Count{});
}

void PositionWatch::GiveBack(const Count& count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  pending_.delivered += count.delivered;
  if (!pending_.reset) pending_.contiguous += count.contiguous;
  pending_.reset = pending_.reset || count.reset;
  pending_.at_least = pending_.at_least || count.at_least;
}

void PositionWatch::Add(int64_t device_position, int64_t read_position, int64_t now_us) {
  // What the clock let pass since the last sample, and how much the positions show.
  const int64_t clock = BytesSinceStart(now_us) - BytesSinceStart(last_us_);
  int64_t moved = RingDistance(last_read_, read_position, ring_);
  if (now_us - last_us_ > RingMicroseconds() / 2 && clock > moved) {
    // The watch was held up (a starved machine, a debugger): whole rings may have passed
    // unseen, as many as the clock says; a device that had not begun may have used its start
    // delay.
    const int64_t delay = total_ == 0 ? clock_.MaxStartDelayMicroseconds() * rate_ / 1000000 : 0;
    const int64_t certain = clock - delay;
    if (certain > moved) moved += (certain - moved + ring_ / 2) / ring_ * ring_;
    pending_.at_least = true;
  }
  // A device delivers no faster than real time: a position that moved further than that
  // (beyond frames, the clock's own step and what lay between the positions) started over.
  const int64_t slack = 2 * frame_ + 2000 * rate_ / 1000000 + last_gap_;
  if (least_late_ != INT64_MAX && BytesSinceStart(now_us) - total_ - moved < least_late_ - slack) {
    // Only the bytes since it started over (from 0, as far as the time allows) are the new
    // ones; the clock counts what came meanwhile, as for a device that went on delivering and
    // is as late as it has been at best. Within the start delay, though, a buffer started
    // again may still be putting its positions where this run begins (Wine's does, and may
    // first move on from where the last run left off): nothing came meanwhile, and what was
    // counted before is not this run's.
    const int64_t since = read_position <= clock + slack ? read_position : 0;
    if (total_ == 0 || now_us - start_us_ <= clock_.MaxStartDelayMicroseconds()) {
      pending_.delivered = 0;
      total_ = 0;
      moved = since;
    } else {
      moved = std::max(BytesSinceStart(now_us) - total_ - least_late_, since);
      pending_.reset = true;
    }
    pending_.contiguous = since;
    // That guess may be off by a device period: the least lateness is measured afresh.
    least_late_ = INT64_MAX;
  } else {
    pending_.contiguous += moved;
  }
  pending_.delivered += moved;
  total_ += moved;
  least_late_ = std::min(least_late_, BytesSinceStart(now_us) - total_);
  last_read_ = read_position;
  last_us_ = now_us;
  last_gap_ = RingDistance(read_position, device_position, ring_);
}

}  // namespace wendrix
