#include "platform/sim/sim_capture.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace wendrix::sim {
namespace {

constexpr uint32_t kDescSize = 20;
constexpr uint32_t kMaxRingBytes = 0x0FFFFFFF;  // DSBSIZE_MAX

uint64_t Mix(uint64_t x) {  // splitmix64's finaliser
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string RegionsText(uint32_t first, uint32_t second) {
  return std::to_string(first) + "+" + std::to_string(second);
}

bool ValidFormat(const WaveFormat& f) {
  if (f.wFormatTag != 1) return false;
  if (f.nChannels != 1 && f.nChannels != 2) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nSamplesPerSec < 100 || f.nSamplesPerSec > 200000) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

uint32_t RoundedRing(uint32_t bytes, uint32_t rounding) {
  if (rounding == 0) return bytes;
  return static_cast<uint32_t>((uint64_t{bytes} + rounding - 1) / rounding * rounding);
}

}  // namespace

// --- Signal ---

Signal Signal::Silence() { return Signal(); }

Signal Signal::Sines(std::vector<Tone> tones) {
  Signal s;
  s.kind_ = tones.empty() ? Kind::Silence : Kind::Sines;
  s.tones_ = std::move(tones);
  return s;
}

Signal Signal::Samples(std::vector<int32_t> interleaved) {
  Signal s;
  s.kind_ = interleaved.empty() ? Kind::Silence : Kind::Samples;
  s.samples_ = std::move(interleaved);
  return s;
}

Signal Signal::Noise(uint64_t seed) {
  Signal s;
  s.kind_ = Kind::Noise;
  s.seed_ = seed;
  return s;
}

int32_t Signal::Sample(uint64_t frame, int channel, const WaveFormat& format) const {
  const bool eight_bit = format.wBitsPerSample == 8;
  switch (kind_) {
    case Kind::Silence:
      return eight_bit ? 128 : 0;
    case Kind::Sines: {
      const Tone& tone = tones_[std::min<size_t>(channel, tones_.size() - 1)];
      const double phase = 2 * std::numbers::pi * tone.frequency_hz * static_cast<double>(frame) /
                           format.nSamplesPerSec;
      const double full_scale = eight_bit ? 127 : 32767;
      const auto value =
          static_cast<int32_t>(std::lround(tone.amplitude * full_scale * std::sin(phase)));
      return eight_bit ? 128 + value : value;
    }
    case Kind::Samples: {
      const uint64_t i = frame * static_cast<uint64_t>(format.nChannels) + channel;
      return samples_[i % samples_.size()];
    }
    case Kind::Noise: {
      const uint64_t bits = Mix(seed_ ^ Mix(frame * 2 + static_cast<uint64_t>(channel)));
      return eight_bit ? static_cast<int32_t>(bits & 0xFF)
                       : static_cast<int32_t>(static_cast<int16_t>(bits & 0xFFFF));
    }
  }
  return 0;
}

// --- SimCaptureBuffer ---

SimCaptureBuffer::SimCaptureBuffer(SimCaptureSystem& system, const CaptureBufferDesc& desc,
                                   uint32_t position)
    : system_(system),
      desc_(desc),
      format_(*desc.lpwfxFormat),
      ring_(RoundedRing(desc.dwBufferBytes, system.ring_rounding), 0),
      block_(static_cast<uint32_t>(format_.nBlockAlign)),
      position_(position) {
  desc_.lpwfxFormat = &format_;  // the caller's record may go away
  ++system_.live_buffers_;
}

SimCaptureBuffer::~SimCaptureBuffer() {
  --system_.live_buffers_;
  system_.last_position_ = position_;
  if (system_.recording_buffer_ == this) system_.recording_buffer_ = nullptr;
}

uint32_t SimCaptureBuffer::device_position() const { return position_; }

uint32_t SimCaptureBuffer::read_position() const {
  if (!running_) return position_;
  const uint64_t lag =
      std::min<uint64_t>(system_.read_lag_frames, frames_since_start_ - frames_at_reset_);
  const uint64_t complete = (frames_since_start_ - lag) * block_;
  return static_cast<uint32_t>((start_position_ + complete) % ring_.size());
}

void SimCaptureBuffer::WriteFrame() {
  for (int c = 0; c < format_.nChannels; ++c) {
    const int32_t sample = system_.signal.Sample(system_.next_frame_, c, format_);
    uint8_t bytes[2] = {static_cast<uint8_t>(sample & 0xFF),
                        static_cast<uint8_t>((sample >> 8) & 0xFF)};
    const int count = format_.wBitsPerSample == 8 ? 1 : 2;
    for (int b = 0; b < count; ++b) {
      ring_[position_] = bytes[b];
      if (system_.recording_buffer_ == this) system_.recorded_.push_back(bytes[b]);
      if (++position_ == ring_.size()) position_ = 0;
    }
  }
  ++system_.next_frame_;
  ++frames_since_start_;
}

void SimCaptureBuffer::CatchUp() {
  if (!running_ || dead_ || system_.frozen_since_us_ >= 0) return;
  const int64_t elapsed = std::max<int64_t>(system_.now_us_ - start_time_us_ - paused_us_, 0);
  uint64_t due =
      static_cast<uint64_t>(elapsed) * static_cast<uint64_t>(format_.nSamplesPerSec) / 1000000u;
  const uint64_t period = std::max<uint32_t>(system_.period_frames, 1);
  due = due / period * period;
  while (frames_since_start_ < due) WriteFrame();
}

void SimCaptureBuffer::Start(uint32_t flags) {
  system_.Call(CaptureCall::Start, "Start " + std::to_string(flags));
  if (running_) return;
  if (system_.restart_positions_on_start) position_ = 0;
  running_ = true;
  start_flags_ = flags;
  start_position_ = position_;
  start_time_us_ = system_.now_us_;
  frames_since_start_ = 0;
  frames_at_reset_ = 0;
  reported_complete_ = 0;
  paused_us_ = system_.start_delay_us;
  system_.recording_buffer_ = this;
  system_.recorded_.clear();
  system_.readable_.clear();
}

void SimCaptureBuffer::Stop() {
  system_.Call(CaptureCall::Stop, "Stop");
  CatchUp();
  running_ = false;
}

uint32_t SimCaptureBuffer::reported_read(uint64_t& back_frames) {
  back_frames = 0;
  const uint32_t read = read_position();
  if (!running_ || system_.read_jitter_frames == 0 || ++system_.position_reads_ % 2 != 0)
    return read;
  const uint64_t since_reset = frames_since_start_ - frames_at_reset_;
  const uint64_t lag = std::min<uint64_t>(system_.read_lag_frames, since_reset);
  back_frames = std::min<uint64_t>(system_.read_jitter_frames, since_reset - lag);
  const uint64_t ring = ring_.size();
  return static_cast<uint32_t>((read + ring - back_frames * block_ % ring) % ring);
}

void SimCaptureBuffer::NoteReported(uint64_t back_frames) {
  if (system_.recording_buffer_ != this) return;
  const uint64_t since_reset = frames_since_start_ - frames_at_reset_;
  const uint64_t lag = running_ ? std::min<uint64_t>(system_.read_lag_frames, since_reset) : 0;
  reported_complete_ =
      std::max(reported_complete_, (frames_since_start_ - lag - back_frames) * block_);
}

void SimCaptureBuffer::GetCurrentPosition(int32_t& device_position, int32_t& read_position) {
  const uint32_t device = this->device_position();
  uint64_t back = 0;
  const uint32_t read = reported_read(back);
  system_.Call(CaptureCall::Position,
               "GetCurrentPosition " + std::to_string(device) + " " + std::to_string(read));
  device_position = static_cast<int32_t>(device);
  read_position = static_cast<int32_t>(read);
  // A read position reported further back is the driver's flip: the reader knows the bytes
  // up to the furthest one it was told of (by any read, the watch's too).
  NoteReported(back);
  NoteReadable();
}

void SimCaptureBuffer::NoteReadable() {
  if (system_.recording_buffer_ == this) {
    const uint64_t produced = frames_since_start_ * block_;
    const uint64_t since_reset = frames_since_start_ - frames_at_reset_;
    const uint64_t lag = running_ ? std::min<uint64_t>(system_.read_lag_frames, since_reset) : 0;
    const uint64_t complete = std::min(produced - lag * block_, reported_complete_);
    // What came before the positions last started over lies where no position leads.
    const uint64_t in_ring = produced > ring_.size() ? produced - ring_.size() : 0;
    const uint64_t oldest = std::max<uint64_t>(in_ring, frames_at_reset_ * block_);
    if (complete > oldest) system_.readable_.emplace_back(oldest, complete);
  }
}

void SimCaptureBuffer::WatchPosition(int32_t& device_position, int32_t& read_position) {
  uint64_t back = 0;
  device_position = static_cast<int32_t>(this->device_position());
  read_position = static_cast<int32_t>(reported_read(back));
  NoteReported(back);
}

void SimCaptureBuffer::Lock(uint32_t offset, uint32_t bytes, LockedRegion& first,
                            LockedRegion& second) {
  const uint32_t ring = ring_length();
  const uint32_t first_size = offset < ring ? std::min(bytes, ring - offset) : 0;
  const uint32_t second_size = bytes - first_size;
  system_.Call(CaptureCall::Lock, "Lock " + std::to_string(offset) + " " + std::to_string(bytes) +
                                      " = " + RegionsText(first_size, second_size));
  if (offset >= ring || bytes > ring || bytes == 0) {
    throw Error::Platform(kDsErrInvalidParam, "IDirectSoundCaptureBuffer::Lock: invalid parameter");
  }
  NoteReadable();
  first = LockedRegion{ring_.data() + offset, first_size};
  second = LockedRegion{second_size ? ring_.data() : nullptr, second_size};
  ++outstanding_locks_;
}

void SimCaptureBuffer::Unlock(const LockedRegion& first, const LockedRegion& second) {
  system_.Call(CaptureCall::Unlock, "Unlock " + RegionsText(first.size, second.size));
  const auto inside = [&](const LockedRegion& r) {
    if (r.size == 0) return true;
    return r.data >= ring_.data() && r.data + r.size <= ring_.data() + ring_.size();
  };
  if (outstanding_locks_ == 0 || !inside(first) || !inside(second) || first.data == nullptr) {
    throw Error::Platform(kDsErrInvalidParam,
                          "IDirectSoundCaptureBuffer::Unlock: invalid parameter");
  }
  --outstanding_locks_;
}

// --- SimCaptureDevice ---

SimCaptureDevice::SimCaptureDevice(SimCaptureSystem& system) : system_(system) {
  ++system_.live_devices_;
}

SimCaptureDevice::~SimCaptureDevice() { --system_.live_devices_; }

std::shared_ptr<CaptureBuffer> SimCaptureDevice::CreateCaptureBuffer(
    const CaptureBufferDesc& desc) {
  system_.Call(CaptureCall::CreateBuffer, "CreateBuffer " + std::to_string(desc.dwBufferBytes));
  if (desc.dwSize != kDescSize || desc.lpwfxFormat == nullptr || desc.dwBufferBytes == 0 ||
      desc.dwBufferBytes > kMaxRingBytes) {
    throw Error::Platform(kDsErrInvalidParam,
                          "IDirectSoundCapture::CreateCaptureBuffer: invalid parameter");
  }
  if (!ValidFormat(*desc.lpwfxFormat)) {
    throw Error::Platform(kDsErrBadFormat, "IDirectSoundCapture::CreateCaptureBuffer: bad format");
  }
  uint32_t position = 0;
  if (system_.new_buffer_continues) {
    const auto last = system_.last_buffer_.lock();
    const uint32_t previous = last ? last->device_position() : system_.last_position_;
    const uint32_t block = static_cast<uint32_t>(desc.lpwfxFormat->nBlockAlign);
    position = previous % desc.dwBufferBytes / block * block;
  }
  auto buffer = std::make_shared<SimCaptureBuffer>(system_, desc, position);
  if (system_.dead_buffers > 0) {
    --system_.dead_buffers;
    buffer->dead_ = true;
  }
  system_.buffers_.push_back(buffer);
  system_.last_buffer_ = buffer;
  ++system_.buffers_created_;
  return buffer;
}

// --- SimCaptureSystem ---

void SimCaptureSystem::Call(CaptureCall call, const std::string& line) {
  faults_.Call([call](CaptureCall key) { return key == call; }, calls, line);
}

void SimCaptureSystem::MoveClock(int64_t to_us) {
  now_us_ = to_us;
  std::erase_if(buffers_, [](const std::weak_ptr<SimCaptureBuffer>& b) { return b.expired(); });
  for (const auto& weak : buffers_) {
    if (auto b = weak.lock()) b->CatchUp();
  }
}

void SimCaptureSystem::AdvanceMicroseconds(int64_t microseconds) {
  const int64_t until = now_us_ + microseconds;
  // The clock stops wherever a periodic function is due, and the function runs there.
  for (;;) {
    const auto due = std::min_element(
        periodic_.begin(), periodic_.end(),
        [](const Periodic& a, const Periodic& b) { return a.next_us < b.next_us; });
    if (due == periodic_.end() || due->next_us > until) break;
    MoveClock(due->next_us);
    due->next_us += due->period_us;
    if (!watch_held) {
      const std::function<void()> tick = due->tick;  // it may stop itself
      tick();
    }
  }
  MoveClock(until);
}

class SimCaptureSystem::PeriodicHandle : public PeriodicThread {
 public:
  PeriodicHandle(SimCaptureSystem& system, int id) : system_(system), id_(id) {}
  ~PeriodicHandle() override {
    std::erase_if(system_.periodic_, [this](const Periodic& p) { return p.id == id_; });
  }

 private:
  SimCaptureSystem& system_;
  int id_;
};

std::unique_ptr<PeriodicThread> SimCaptureSystem::StartPeriodic(std::function<void()> tick,
                                                                int64_t period_us) {
  const int id = ++next_periodic_id_;
  const int64_t period = std::max<int64_t>(period_us, 1);
  periodic_.push_back(Periodic{id, std::move(tick), period, now_us_ + period});
  return std::make_unique<PeriodicHandle>(*this, id);
}

void SimCaptureSystem::ResetPositions() {
  for (const auto& weak : buffers_) {
    auto b = weak.lock();
    if (!b || !b->running_) continue;
    b->CatchUp();
    const uint64_t ring = b->ring_.size();
    b->position_ = 0;
    b->start_position_ =
        static_cast<uint32_t>((ring - b->frames_since_start_ * b->block_ % ring) % ring);
    b->frames_at_reset_ = b->frames_since_start_;
  }
}

void SimCaptureSystem::Freeze() {
  if (frozen_since_us_ < 0) frozen_since_us_ = now_us_;
}

void SimCaptureSystem::Resume(bool catch_up) {
  if (frozen_since_us_ < 0) return;
  for (const auto& weak : buffers_) {
    auto b = weak.lock();
    if (b && b->running_ && !catch_up)
      b->paused_us_ += now_us_ - std::max(frozen_since_us_, b->start_time_us_);
  }
  frozen_since_us_ = -1;
  MoveClock(now_us_);
}

void SimCaptureSystem::AdvanceFrames(uint64_t frames) {
  const auto last = last_buffer_.lock();
  if (!last || !last->running_) return;
  const uint64_t target = last->frames_since_start_ + frames;
  const uint64_t rate = static_cast<uint64_t>(last->format_.nSamplesPerSec);
  const int64_t at = last->start_time_us_ + last->paused_us_ +
                     static_cast<int64_t>((target * 1000000u + rate - 1) / rate);
  AdvanceMicroseconds(std::max<int64_t>(at - now_us_, 0));
}

void SimCaptureSystem::FailNext(CaptureCall call, Error error, int after) {
  faults_.FailNext(call, std::move(error), after);
}

void SimCaptureSystem::FailAlways(CaptureCall call, Error error) {
  faults_.FailAlways(call, std::move(error));
}

void SimCaptureSystem::ClearFailures() { faults_.Clear(); }

std::vector<std::pair<size_t, size_t>> SimCaptureSystem::unrecoverable() const {
  auto spans = readable_;
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<size_t, size_t>> gaps;
  size_t covered = 0;
  for (const auto& [begin, end] : spans) {
    if (begin > covered) gaps.emplace_back(covered, begin);
    covered = std::max(covered, end);
  }
  if (covered < recorded_.size()) gaps.emplace_back(covered, recorded_.size());
  return gaps;
}

SimCaptureBuffer* SimCaptureSystem::buffer() const { return last_buffer_.lock().get(); }

std::vector<std::string> SimCaptureSystem::CallsSince(size_t mark,
                                                      const std::string& prefix) const {
  std::vector<std::string> out;
  for (size_t i = mark; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) out.push_back(calls[i]);
  }
  return out;
}

std::shared_ptr<CaptureDevice> SimCaptureSystem::CreateDefaultDevice() {
  Call(CaptureCall::CreateDevice, "CreateDevice");
  return std::make_shared<SimCaptureDevice>(*this);
}

}  // namespace wendrix::sim
