#include "platform/win32/dsound_capture.h"

#include <algorithm>
#include <utility>

#include "platform/error.h"
#include "platform/win32/system_error.h"
#include "platform/win32/timer_thread.h"

namespace wendrix::win32 {

using Microsoft::WRL::ComPtr;

DsCaptureBuffer::DsCaptureBuffer(ComPtr<IDirectSoundCapture> device,
                                 ComPtr<IDirectSoundCaptureBuffer> buffer, uint32_t ring_bytes)
    : device_(std::move(device)), buffer_(std::move(buffer)), ring_bytes_(ring_bytes) {}

DsCaptureBuffer::~DsCaptureBuffer() {
  buffer_.Reset();
  device_.Reset();
}

void DsCaptureBuffer::Start(uint32_t flags) {
  const HRESULT hr = buffer_->Start(flags);
  if (FAILED(hr)) throw ComError("IDirectSoundCaptureBuffer::Start", hr);
}

void DsCaptureBuffer::Stop() {
  const HRESULT hr = buffer_->Stop();
  if (FAILED(hr)) throw ComError("IDirectSoundCaptureBuffer::Stop", hr);
}

void DsCaptureBuffer::GetCurrentPosition(int32_t& device_position, int32_t& read_position) {
  DWORD device = 0;
  DWORD read = 0;
  const HRESULT hr = buffer_->GetCurrentPosition(&device, &read);
  if (FAILED(hr)) throw ComError("IDirectSoundCaptureBuffer::GetCurrentPosition", hr);
  device_position = static_cast<int32_t>(device);
  read_position = static_cast<int32_t>(read);
}

void DsCaptureBuffer::Lock(uint32_t offset, uint32_t bytes, LockedRegion& first,
                           LockedRegion& second) {
  first = {};
  second = {};
  if (offset >= ring_bytes_ || bytes > ring_bytes_)
    throw ComError("IDirectSoundCaptureBuffer::Lock", DSERR_INVALIDPARAM);
  void* p1 = nullptr;
  void* p2 = nullptr;
  DWORD n1 = 0;
  DWORD n2 = 0;
  const HRESULT hr = buffer_->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0);
  if (FAILED(hr)) throw ComError("IDirectSoundCaptureBuffer::Lock", hr);
  first = {static_cast<const uint8_t*>(p1), n1};
  second = {p2 ? static_cast<const uint8_t*>(p2) : nullptr, p2 ? n2 : 0};
}

void DsCaptureBuffer::Unlock(const LockedRegion& first, const LockedRegion& second) {
  // DirectSound takes the pointers it handed out; it does not write through them.
  const HRESULT hr = buffer_->Unlock(const_cast<uint8_t*>(first.data), first.size,
                                     const_cast<uint8_t*>(second.data), second.size);
  if (FAILED(hr)) throw ComError("IDirectSoundCaptureBuffer::Unlock", hr);
}

DsCaptureDevice::DsCaptureDevice(ComPtr<IDirectSoundCapture> device) : device_(std::move(device)) {}

std::shared_ptr<CaptureBuffer> DsCaptureDevice::CreateCaptureBuffer(const CaptureBufferDesc& desc) {
  WAVEFORMATEX format{};
  if (desc.lpwfxFormat) {
    const WaveFormat& f = *desc.lpwfxFormat;
    format.wFormatTag = static_cast<WORD>(f.wFormatTag);
    format.nChannels = static_cast<WORD>(f.nChannels);
    format.nSamplesPerSec = static_cast<DWORD>(f.nSamplesPerSec);
    format.nAvgBytesPerSec = static_cast<DWORD>(f.nAvgBytesPerSec);
    format.nBlockAlign = static_cast<WORD>(f.nBlockAlign);
    format.wBitsPerSample = static_cast<WORD>(f.wBitsPerSample);
    format.cbSize = static_cast<WORD>(f.cbSize);
  }
  DSCBUFFERDESC native{};
  // The core describes the 20-byte first version of the record, whose size in this process is
  // sizeof(DSCBUFFERDESC1) (24 in a 64-bit one); any other size goes to DirectSound as given.
  native.dwSize = desc.dwSize == 20 ? sizeof(DSCBUFFERDESC1) : desc.dwSize;
  native.dwFlags = desc.dwFlags;
  native.dwBufferBytes = desc.dwBufferBytes;
  native.dwReserved = desc.dwReserved;
  native.lpwfxFormat = desc.lpwfxFormat ? &format : nullptr;

  ComPtr<IDirectSoundCaptureBuffer> buffer;
  const HRESULT hr = device_->CreateCaptureBuffer(&native, &buffer, nullptr);
  if (FAILED(hr)) throw ComError("IDirectSoundCapture::CreateCaptureBuffer", hr);
  // The ring is as long as DirectSound says: the positions wrap there, whatever was asked for.
  DSCBCAPS caps{};
  caps.dwSize = sizeof caps;
  const HRESULT caps_hr = buffer->GetCaps(&caps);
  if (FAILED(caps_hr)) throw ComError("IDirectSoundCaptureBuffer::GetCaps", caps_hr);
  return std::make_shared<DsCaptureBuffer>(device_, std::move(buffer), caps.dwBufferBytes);
}

namespace {

int64_t CounterMicroseconds() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  // Whole seconds and the remainder apart, so that the product cannot overflow.
  return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

int64_t UnbiasedMicroseconds() {
  ULONGLONG hundreds = 0;
  QueryUnbiasedInterruptTime(&hundreds);
  return static_cast<int64_t>(hundreds / 10);
}

// The two clocks tick at different granularity (the interrupt time by the clock interrupt)
// and may drift apart a little: only a jump this large is a suspension.
constexpr int64_t kLeastSuspensionUs = 500000;

}  // namespace

DsCaptureSystem::DsCaptureSystem()
    : counter_at_start_us_(CounterMicroseconds()),
      unbiased_at_start_us_(UnbiasedMicroseconds()),
      announced_at_start_us_(PowerWatch::Pauses().PausedBy(counter_at_start_us_)) {}

std::shared_ptr<CaptureDevice> DsCaptureSystem::CreateDefaultDevice() {
  // Through COM, which loads dsound.dll by the full path it is registered with: DirectSound is
  // no KnownDLL, and a DSOUND.dll beside the module (a folder the user may write to) would be
  // loaded in its place by an import.
  ComPtr<IDirectSoundCapture> device;
  HRESULT hr =
      CoCreateInstance(CLSID_DirectSoundCapture, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IDirectSoundCapture, reinterpret_cast<void**>(device.GetAddressOf()));
  if (FAILED(hr)) throw ComError("CoCreateInstance(DirectSoundCapture)", hr);
  hr = device->Initialize(nullptr);
  if (FAILED(hr)) throw ComError("IDirectSoundCapture::Initialize", hr);
  if (!watch_) watch_ = std::make_unique<DefaultDeviceWatch>();
  if (!power_) power_ = std::make_unique<PowerWatch>(&CounterMicroseconds);
  return std::make_shared<DsCaptureDevice>(std::move(device));
}

int64_t DsCaptureSystem::SuspendedMicroseconds() {
  int64_t counter = 0;
  return Suspended(counter);
}

int64_t DsCaptureSystem::NowMicroseconds() { return ReadClock().now_us; }

CaptureSystem::ClockReading DsCaptureSystem::ReadClock() {
  int64_t counter = 0;
  const int64_t suspended = Suspended(counter);
  return {counter - suspended, suspended};
}

// The counter is read under the lock: a reading from before a sleep that another thread has
// counted already would have the sleep's time taken off it, and its clock would step back by
// the whole sleep.
int64_t DsCaptureSystem::Suspended(int64_t& counter) {
  std::lock_guard<std::mutex> lock(suspended_lock_);
  counter = CounterMicroseconds();
  const int64_t detected =
      (counter - counter_at_start_us_) - (UnbiasedMicroseconds() - unbiased_at_start_us_);
  const int64_t announced = PowerWatch::Pauses().PausedBy(counter) - announced_at_start_us_;
  // What each way saw since the last call; a sleep both saw counts once, and sleeps that only
  // one of them saw (a standby announced, a hibernation after it) add up.
  int64_t by_clocks = detected - detected_seen_us_;
  if (by_clocks >= kLeastSuspensionUs) {
    detected_seen_us_ = detected;
  } else {
    by_clocks = 0;
  }
  const int64_t by_announcement = std::max<int64_t>(0, announced - announced_seen_us_);
  announced_seen_us_ = std::max(announced_seen_us_, announced);
  suspended_us_ += std::max(by_clocks, by_announcement);
  return suspended_us_;
}

uint32_t DsCaptureSystem::DefaultDeviceChanges() { return watch_ ? watch_->changes() : 0; }

std::unique_ptr<PeriodicThread> DsCaptureSystem::StartPeriodic(std::function<void()> tick,
                                                               int64_t period_us) {
  return std::make_unique<TimerThread>(std::move(tick), period_us);
}

}  // namespace wendrix::win32
