// How much one read of the ring may take: the clock, the device's lateness and the ring's own
// bytes bound what the device can have delivered since the last read.
#include <algorithm>
#include <cstring>

#include "control/control.h"
#include "recording/drain_limits.h"
#include "recording/ring.h"

namespace wendrix {

using drain::kLatenessJitterMicroseconds;
using drain::kLeastFreezeMicroseconds;

int64_t Control::BytesIn(int64_t microseconds) const {
  return microseconds > 0 ? microseconds * s_.DeviceFormat.nAvgBytesPerSec / 1000000 : 0;
}

int64_t Control::LatenessAt(int64_t time) const {
  return BytesIn(time - s_.CaptureStartTime) - s_.DeliveredBytes;
}

bool Control::DeviceWasFrozen() const {
  return s_.LastReadTime - s_.LastMoveTime > kLeastFreezeMicroseconds;
}

RingReadFacts Control::ReadFacts(int64_t shown, int64_t gap, int64_t now) const {
  RingReadFacts f;
  f.shown = shown;
  f.gap = gap;
  f.ring = s_.BufferDesc.dwBufferBytes;
  f.frame = s_.DeviceFormat.nBlockAlign;
  // Positions move in whole frames and the clock is read a little after them. The capture
  // position is what cannot run ahead of real time; the read position may also catch up on
  // what lay between the two at the last read.
  const int64_t slack = 2 * int64_t{f.frame} + BytesIn(2000) + s_.LastGap;
  const int64_t elapsed = BytesIn(now - s_.LastReadTime);
  const int64_t jitter = std::min(BytesIn(kLatenessJitterMicroseconds), f.ring / 4);
  if (s_.DeviceFlowing == False) {
    // Before its first bytes the device may have waited up to its start delay. A read that
    // found it still silent tells it began after that read (whatever delay it took).
    f.possible = BytesIn(now - s_.CaptureStartTime) + slack;
    f.likely = s_.LastReadTime > s_.CaptureStartTime
                   ? std::min(f.possible, elapsed + jitter + slack)
                   : f.possible;
    f.certain = std::clamp<int64_t>(
        BytesIn(now - s_.CaptureStartTime - p_.capture.MaxStartDelayMicroseconds()) - gap - slack,
        0, f.likely);
    return f;
  }
  // Since Start the device cannot have delivered more than real time (give or take a device
  // clock that runs a little fast).
  const int64_t lateness = LatenessAt(s_.LastReadTime);
  f.possible = elapsed + lateness - s_.LatenessLeast + slack;
  // Beyond what the clock says came since the last read, a read finds what the device held
  // back then: how much later it was than it has lately been at best (a device that delivers
  // in periods is up to a period late), give or take the tens of milliseconds by which a sound
  // server's fragments or a capture thread's period make that vary. A device that had stood
  // still for longer than any period was frozen: what it missed meanwhile never comes.
  const int64_t floor = s_.LatenessFloor.Least();
  const int64_t backlog = DeviceWasFrozen() || floor == WindowMinimum::kNone
                              ? 0
                              : std::max<int64_t>(lateness - floor, 0);
  f.likely = elapsed + backlog + jitter + slack;
  f.certain = f.likely;
  return f;
}

bool Control::RingChangedSinceLastRead(int64_t gap) {
  // The last transfer's bytes ended where the read position stands; compare its newest ones
  // with what the ring holds there now.
  const int64_t ring = s_.BufferDesc.dwBufferBytes;
  const int64_t taken = static_cast<int64_t>(s_.SampleBytes.size()) - 1;
  const int64_t length = std::min<int64_t>({taken, ring - gap, 4096});
  if (length <= 0) return false;
  const auto from = static_cast<uint32_t>((s_.DrainOffset - length + ring) % ring);
  LockedRegion first;
  LockedRegion second;
  LockRing(from, length, first, second);
  const uint8_t* kept = s_.SampleBytes.data() + (taken - length);
  const bool changed =
      std::memcmp(kept, first.data, first.size) != 0 ||
      (second.size != 0 && std::memcmp(kept + first.size, second.data, second.size) != 0);
  s_.RecorderBuffer->Unlock(first, second);
  return changed;
}

}  // namespace wendrix
