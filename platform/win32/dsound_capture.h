// The recording device on Windows: DirectSound capture of the system's default recording
// device. Each object holds a counted reference (WRL ComPtr) to its DirectSound object and
// releases it when the last shared_ptr goes. A failing call throws
// Error::Platform(hr, "<interface>::<method>: <text>").
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <dsound.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/capture.h"
#include "platform/win32/default_device_watch.h"
#include "platform/win32/power_watch.h"

namespace wendrix::win32 {

// A ring buffer keeps its device alive: some DirectSound implementations (Wine's) release a
// device's buffer, under its owner's reference, when the device goes first.
class DsCaptureBuffer : public CaptureBuffer {
 public:
  DsCaptureBuffer(Microsoft::WRL::ComPtr<IDirectSoundCapture> device,
                  Microsoft::WRL::ComPtr<IDirectSoundCaptureBuffer> buffer, uint32_t ring_bytes);
  // Releases the buffer, then its device.
  ~DsCaptureBuffer() override;

  void Start(uint32_t flags) override;
  void Stop() override;
  void GetCurrentPosition(int32_t& device_position, int32_t& read_position) override;
  // Refuses an offset outside the ring or more bytes than the ring holds with
  // DSERR_INVALIDPARAM before DirectSound sees them: not every implementation checks them.
  void Lock(uint32_t offset, uint32_t bytes, LockedRegion& first, LockedRegion& second) override;
  void Unlock(const LockedRegion& first, const LockedRegion& second) override;
  // The length DirectSound reported for the buffer it made (IDirectSoundCaptureBuffer::GetCaps).
  uint32_t RingLength() override { return ring_bytes_; }

 private:
  Microsoft::WRL::ComPtr<IDirectSoundCapture> device_;
  Microsoft::WRL::ComPtr<IDirectSoundCaptureBuffer> buffer_;
  uint32_t ring_bytes_;
};

class DsCaptureDevice : public CaptureDevice {
 public:
  explicit DsCaptureDevice(Microsoft::WRL::ComPtr<IDirectSoundCapture> device);
  std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) override;

 private:
  Microsoft::WRL::ComPtr<IDirectSoundCapture> device_;
};

class DsCaptureSystem : public CaptureSystem {
 public:
  DsCaptureSystem();
  // DirectSound's capture object, created through COM (the thread must be in an apartment)
  // and initialised for the default recording device. The first call also begins to watch for
  // changes of the default device and for suspensions.
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override;
  // The performance counter, less the time the machine slept.
  int64_t NowMicroseconds() override;
  // What the performance counter ran on beyond the unbiased interrupt time, which leaves out
  // sleep and hibernation (where the counter stands still across a sleep as well, nothing), or
  // the counter's time between the suspensions and wakes the system announced, whichever is
  // more for each sleep: a connected standby may be left out of neither clock. Only grows.
  int64_t SuspendedMicroseconds() override;
  ClockReading ReadClock() override;
  uint32_t DefaultDeviceChanges() override;
  // A TimerThread.
  std::unique_ptr<PeriodicThread> StartPeriodic(std::function<void()> tick,
                                                int64_t period_us) override;

 private:
  // Reads the counter into `counter` and returns SuspendedMicroseconds as of that reading.
  int64_t Suspended(int64_t& counter);

  int64_t counter_at_start_us_;
  int64_t unbiased_at_start_us_;
  int64_t announced_at_start_us_;
  // The clock is read by the position watch's thread too.
  std::mutex suspended_lock_;
  int64_t suspended_us_ = 0;
  int64_t detected_seen_us_ = 0;   // the clocks' difference when a suspension was last taken
  int64_t announced_seen_us_ = 0;  // the announced pauses when last asked
  std::unique_ptr<DefaultDeviceWatch> watch_;
  std::unique_ptr<PowerWatch> power_;
};

}  // namespace wendrix::win32
