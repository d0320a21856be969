// What a recording costs the host's user-interface thread: one drain period (five ticks: five
// meter slices and one drain) at 44100 Hz, 2 channels, 16 bits, against a plain memcpy of the
// same bytes, for rings from 11 KB to 1.76 MB.
//
// The device and the file are stand-ins that cost nothing (a ring whose read position the
// benchmark moves, a file that takes every byte), and the host keeps no log, so the figures
// are the control's own work. "cpu_per_audio_s" is CPU time per second of audio.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/elements.h"
#include "platform/error.h"

namespace wendrix {
namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBlockAlign = 4;
constexpr double kBytesPerSecond = kRate * kBlockAlign;

// The tick fractions of a cycle, as the tick handler's single-precision phase holds them.
const float kTicks[5] = {std::bit_cast<float>(0x3E4CCCCDu), std::bit_cast<float>(0x3ECCCCCDu),
                         std::bit_cast<float>(0x3F19999Au), std::bit_cast<float>(0x3F4CCCCDu),
                         std::bit_cast<float>(0x3F800000u)};

// Rings from 11025 bytes to 10 s of audio, in whole frames.
void Rings(benchmark::internal::Benchmark* b) {
  for (int64_t ring : {11025, 22050, 44100, 88200, 176400, 352800, 705600, 1411200, 1764000}) {
    b->Arg(ring / kBlockAlign * kBlockAlign);
  }
}

// Half a ring in whole frames: the bytes one drain period brings.
int64_t PeriodBytes(int64_t ring) { return ring / 2 / kBlockAlign * kBlockAlign; }

// A two-tone stereo signal, 16-bit little-endian, in whole frames.
std::vector<uint8_t> Tone(int64_t bytes) {
  std::vector<uint8_t> out(static_cast<size_t>(bytes));
  for (int64_t f = 0; f < bytes / kBlockAlign; ++f) {
    const double t = static_cast<double>(f) / kRate;
    const auto left = static_cast<int16_t>(20000 * std::sin(2 * std::numbers::pi * 440 * t));
    const auto right = static_cast<int16_t>(9000 * std::sin(2 * std::numbers::pi * 1000 * t));
    std::memcpy(&out[f * kBlockAlign], &left, 2);
    std::memcpy(&out[f * kBlockAlign + 2], &right, 2);
  }
  return out;
}

void Report(benchmark::State& state, int64_t bytes_per_iteration) {
  const double audio_seconds = static_cast<double>(state.iterations()) *
                               static_cast<double>(bytes_per_iteration) / kBytesPerSecond;
  state.SetBytesProcessed(state.iterations() * bytes_per_iteration);
  // CPU time divided by audio time: CPU seconds per second of audio.
  state.counters["cpu_per_audio_s"] =
      benchmark::Counter(audio_seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// --- stand-ins that cost nothing ---

class QuietHost : public Container, public Surface, public Elements, public Timer {
 public:
  void PropertyChanged(const std::string&) override {}
  bool AmbientUserMode() override { return true; }
  void RaiseEvent(Event) override {}
  void MessageBox(const std::string& text) override { last_box = text; }
  std::string last_box;  // a report means the benchmark measured a failure
  void SetWidth(float w) override { width_ = w; }
  void SetHeight(float h) override { height_ = h; }
  float Width() override { return width_; }
  float Height() override { return height_; }
  uint32_t BackColor() override { return back_color_; }
  void SetBackColor(uint32_t c) override { back_color_ = c; }
  int16_t BackStyle() override { return back_style_; }
  void SetBackStyle(int16_t s) override { back_style_ = s; }
  int16_t BorderStyle() override { return border_style_; }
  void SetBorderStyle(int16_t s) override { border_style_ = s; }
  void SetVisible(int e, bool v) override { visible_[e] = v; }
  bool Visible(int e) override { return visible_[e]; }
  void SetBackColor(int e, uint32_t c) override { colors_[e] = c; }
  uint32_t BackColor(int e) override { return colors_[e]; }
  void SetInterval(int32_t ms) override { interval_ = ms; }
  int32_t Interval() override { return interval_; }
  void SetEnabled(bool on) override { enabled_ = on; }
  bool Enabled() override { return enabled_; }

 private:
  float width_ = 1830, height_ = 510;
  uint32_t back_color_ = 0;
  int16_t back_style_ = 0, border_style_ = 0;
  bool visible_[kElementCount] = {};
  uint32_t colors_[kElementCount] = {};
  int32_t interval_ = 0;
  bool enabled_ = false;
};

// A ring whose read position the benchmark moves on by a drain period at a time.
class PrefilledBuffer : public CaptureBuffer {
 public:
  explicit PrefilledBuffer(uint32_t ring) : ring_(Tone(ring)) {}
  void Advance(int64_t bytes) {
    position_ = static_cast<uint32_t>((position_ + bytes) % static_cast<int64_t>(ring_.size()));
  }
  void Start(uint32_t) override {}
  void Stop() override {}
  void GetCurrentPosition(int32_t& device, int32_t& read) override {
    device = read = static_cast<int32_t>(position_);
  }
  void Lock(uint32_t offset, uint32_t bytes, LockedRegion& first, LockedRegion& second) override {
    const auto size = static_cast<uint32_t>(ring_.size());
    const uint32_t head = std::min(bytes, size - offset);
    first = {ring_.data() + offset, head};
    second = {ring_.data(), bytes - head};
  }
  void Unlock(const LockedRegion&, const LockedRegion&) override {}
  uint32_t RingLength() override { return static_cast<uint32_t>(ring_.size()); }
  int32_t position() const { return static_cast<int32_t>(position_); }

 private:
  std::vector<uint8_t> ring_;
  uint32_t position_ = 0;
};

class PrefilledDevice : public CaptureDevice, public CaptureSystem {
 public:
  std::shared_ptr<PrefilledBuffer> buffer;
  std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) override {
    buffer = std::make_shared<PrefilledBuffer>(desc.dwBufferBytes);
    return buffer;
  }
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    return std::shared_ptr<CaptureDevice>(this, [](CaptureDevice*) {});
  }
};

class NullFile : public MultimediaFile {
 public:
  bool Created() const override { return true; }
  FileIdentity Identity() const override { return {}; }
  uint32_t Truncate() override { return kFileOk; }
  bool PatchLong(uint32_t, uint32_t) override { return true; }
  void Discard() override {}
  int32_t Seek(int32_t offset, int32_t) override { return offset; }
  uint32_t CreateChunk(ChunkInfo&, uint32_t) override { return kFileOk; }
  int32_t Write(const void*, int32_t count) override { return count; }
  uint32_t Ascend(ChunkInfo&, uint32_t) override { return kFileOk; }
  uint32_t Close() override { return kFileOk; }
};

class NullBinaryFile : public BinaryFile {
 public:
  void WriteLongAt(uint32_t, int32_t) override {}
  void Close() override {}
};

class NullFiles : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> OpenOutputFile(const std::string&) override {
    return std::make_unique<NullFile>();
  }
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string&, const FileIdentity&) override {
    return std::make_unique<NullBinaryFile>();
  }
  void Pause(int32_t) override {}
  std::string FullPath(const std::string& path) override { return path; }
  void Remove(const std::string&) override {}
};

// --- the benchmarks ---

// The baseline: the period's bytes copied once.
void BM_Memcpy(benchmark::State& state) {
  const int64_t period = PeriodBytes(state.range(0));
  const std::vector<uint8_t> source = Tone(period);
  std::vector<uint8_t> dest(source.size());
  for (auto _ : state) {
    std::memcpy(dest.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  Report(state, period);
}
BENCHMARK(BM_Memcpy)->Apply(Rings);

// The meter alone: five slices over the block of one period.
void BM_MeterSlices(benchmark::State& state) {
  const int64_t period = PeriodBytes(state.range(0));
  QuietHost host;
  PrefilledDevice device;
  NullFiles files;
  Control control{Platform{host, host, host, host, device, files}};
  ControlState& s = control.state();
  s.MeterDataReady = True;
  s.MeterVisible = True;
  s.DeviceFormat = WaveFormat{1, kChannels, kRate, kRate * kBlockAlign, kBlockAlign, 16, 0};
  s.ChannelCount = kChannels;
  const std::vector<uint8_t> block = Tone(period);
  s.SampleWords.assign(static_cast<size_t>(period / 2 + 2), 0);
  std::memcpy(s.SampleWords.data(), block.data(), block.size());
  for (auto _ : state) {
    for (float p : kTicks) control.MeterSlice(p);
  }
  Report(state, period);
}
BENCHMARK(BM_MeterSlices)->Apply(Rings);

// A recording: each iteration the device brings one period and five ticks run (five meter
// slices, then the drain into the sample block and the file).
void BM_DrainPeriod(benchmark::State& state) {
  const auto ring = static_cast<int32_t>(state.range(0));
  const int64_t period = PeriodBytes(ring);
  QuietHost host;
  PrefilledDevice device;
  NullFiles files;
  Control control{Platform{host, host, host, host, device, files}};
  try {
    control.Initialize();
    control.InitProperties();
    control.put_Enabled(True);
    control.put_AutoCalculateBuff(False);
    control.put_BufferLength(ring);
    if (control.Init_DSWendrix() != True || control.Wendrix_Start("bench.wav") != True) {
      throw Error(errc::InvalidProcedureCall, "the recording did not start: " + host.last_box);
    }
  } catch (const Error& e) {
    state.SkipWithError(e.description().c_str());
    return;
  }
  int64_t periods = 0;
  for (auto _ : state) {
    // Keep well inside the largest WAVE file: start a new recording now and then.
    if (++periods % 2000 == 0) {
      state.PauseTiming();
      control.Wendrix_Stop();
      control.Wendrix_Start("bench.wav");
      state.ResumeTiming();
    }
    device.buffer->Advance(period);
    for (int tick = 0; tick < 5; ++tick) control.Timer1_Timer();
  }
  Report(state, period);
  if (!host.last_box.empty()) state.SkipWithError(host.last_box.c_str());
  if (control.state().DrainOffset != device.buffer->position()) {
    state.SkipWithError("the drain did not take every period");
  }
}
BENCHMARK(BM_DrainPeriod)->Apply(Rings);

}  // namespace
}  // namespace wendrix
