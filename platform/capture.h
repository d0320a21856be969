// The recording device: a capture system that opens the default recording device, which
// creates ring buffers that the device fills on its own.
//
// Every call either succeeds or throws wendrix::Error; a platform failure keeps the
// platform's HRESULT (Error::Platform). References are counted (shared_ptr): dropping the
// last one releases the object, without stopping it first.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/wave_format.h"

namespace wendrix {

// The description a ring buffer is created from (the platform's 20-byte DSCBUFFERDESC).
struct CaptureBufferDesc {
  uint32_t dwSize = 0;         // 20
  uint32_t dwFlags = 0;        // 0
  uint32_t dwBufferBytes = 0;  // ring length in bytes
  uint32_t dwReserved = 0;     // 0
  const WaveFormat* lpwfxFormat = nullptr;
};

// One region of a locked range of the ring.
struct LockedRegion {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

inline constexpr uint32_t kCaptureStartLooping = 1;  // DSCBSTART_LOOPING

// A ring buffer of exactly dwBufferBytes bytes of interleaved PCM frames.
class CaptureBuffer {
 public:
  virtual ~CaptureBuffer() = default;

  // Starts recording; with kCaptureStartLooping the device wraps round the ring until stopped.
  // Starting a running buffer does nothing.
  virtual void Start(uint32_t flags) = 0;
  // Stops recording. Stopping a stopped buffer does nothing.
  virtual void Stop() = 0;
  // The device position (where the device writes) and the read position (everything before
  // it is complete), both byte offsets in 0 .. ring length - 1. Whether positions restart at
  // 0 after Stop/Start is the implementation's: callers must not rely on either.
  virtual void GetCurrentPosition(int32_t& device_position, int32_t& read_position) = 0;
  // Locks `bytes` bytes from `offset` for reading: two regions that together cover them; the
  // second is the part that wraps to offset 0 and is empty when nothing wraps. `bytes` must
  // not exceed the ring length and `offset` must lie inside the ring, or the call fails with
  // an invalid-parameter error.
  virtual void Lock(uint32_t offset, uint32_t bytes, LockedRegion& first, LockedRegion& second) = 0;
  // Releases both regions as Lock returned them.
  virtual void Unlock(const LockedRegion& first, const LockedRegion& second) = 0;
  // The positions as GetCurrentPosition gives them, for a watch on a thread of its own that
  // only observes (a simulated device leaves such reads out of its record).
  virtual void WatchPosition(int32_t& device_position, int32_t& read_position) {
    GetCurrentPosition(device_position, read_position);
  }
  // The length of the ring the device really made, in bytes: the one its positions wrap at.
  // A device may make another length than the one asked for.
  virtual uint32_t RingLength() = 0;
};

// The opened default recording device.
class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;
  // Creates a ring buffer; fails for a zero or unsupported length or an unsupported format.
  virtual std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) = 0;
};

// A thread that runs a function at a steady pace; destroying it stops it and waits until the
// function has returned for the last time.
class PeriodicThread {
 public:
  virtual ~PeriodicThread() = default;
};

// The system's recording devices.
class CaptureSystem {
 public:
  virtual ~CaptureSystem() = default;
  // Opens the default recording device; fails when there is none.
  virtual std::shared_ptr<CaptureDevice> CreateDefaultDevice() = 0;
  // The longest a ring buffer may take after Start to deliver its first bytes. Under Wine with
  // PulseAudio a new stream delivers after 0.2 to 0.9 s; on Windows, DirectSound capture runs
  // on a shared-mode audio stream that delivers within a few device periods (tens of
  // milliseconds), longer for some wireless headsets: one second covers both.
  virtual int64_t MaxStartDelayMicroseconds() { return 1000000; }
  // Microseconds the machine spent suspended (sleep, hibernation, standby) since this object
  // was made: NowMicroseconds does not count them, and no device records meanwhile. 0 where
  // the platform cannot tell.
  virtual int64_t SuspendedMicroseconds() { return 0; }
  // How often the system's default recording device changed since this object was made. The
  // platform may move a recording on the default device to the new one.
  virtual uint32_t DefaultDeviceChanges() { return 0; }
  // Calls `tick` every `period_us` on a thread of its own until the result is destroyed; null
  // where the platform runs no such thread. `tick` must not throw, show anything or call into
  // the container; the clock and a buffer's WatchPosition, Lock and Unlock may be called from
  // it (the position watch copies what the ring is about to write over).
  virtual std::unique_ptr<PeriodicThread> StartPeriodic(std::function<void()> tick,
                                                        int64_t period_us) {
    (void)tick;
    (void)period_us;
    return nullptr;
  }
  // A monotonic clock in microseconds, running at the pace at which the devices record: the
  // recorder tells from it how much audio a running buffer produced between two reads. Never
  // fails; only differences between two readings mean anything. It leaves out time in which no
  // device records and whose audio is not to count as lost (a sleep): that is the one place
  // where such time leaves the recorder's accounting. Safe to call from any thread.
  virtual int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // NowMicroseconds and SuspendedMicroseconds at one instant, so that what the clock left
  // out between two readings is exactly what the suspensions grew by: a suspension counted on
  // another thread between two separate calls would be put against the wrong reading.
  struct ClockReading {
    int64_t now_us = 0;
    int64_t suspended_us = 0;
  };
  virtual ClockReading ReadClock() { return {NowMicroseconds(), SuspendedMicroseconds()}; }
};

}  // namespace wendrix
