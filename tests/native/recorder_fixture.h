// A control on the simulated host with the simulated recording device and real files in a
// temporary directory: a test scripts the clock, delivers ticks and reads the files back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/sim/sim_capture.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_host.h"

namespace wendrix::test {

// The services are declared before the control so that they outlive it.
struct RecorderRig {
  sim::SimHost host;
  sim::SimCaptureSystem capture;
  sim::SimFileSystem files;
  sim::TempDir dir;
  Control control{Platform{host, host, host, host, capture, files}};
  ControlState& s = control.state();

  // A new, enabled control with the default properties (44100 Hz, stereo, 16 bits, meter
  // shown, automatic buffer length).
  RecorderRig() {
    control.Initialize();
    control.InitProperties();
    control.put_Enabled(True);
  }

  void SetFormat(int32_t rate, int32_t channels, int32_t bits) {
    control.put_SamplesPerSecond(rate);
    control.put_NumChannels(channels);
    control.put_BitsPerSample(bits);
  }

  // A ring of exactly `bytes` bytes at the next Init_DSWendrix.
  void SetRing(int32_t bytes) {
    control.put_AutoCalculateBuff(False);
    control.put_BufferLength(bytes);
  }

  std::string Path(const std::string& name = "take.wav") const { return dir.File(name); }

  // Init_DSWendrix, then a recording of noise `seed` from a device that delivers in periods
  // of `period_frames` and reads `read_lag_frames` behind its capture position.
  void StartNoise(uint64_t seed, uint32_t read_lag_frames = 0, uint32_t period_frames = 1) {
    control.Init_DSWendrix();
    capture.signal = sim::Signal::Noise(seed);
    capture.read_lag_frames = read_lag_frames;
    capture.period_frames = period_frames;
    control.Wendrix_Start(Path());
  }

  // Advances the clock by the timer's interval and delivers one tick, `count` times.
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      capture.Advance(host.interval());
      control.Timer1_Timer();
    }
  }
  // The ticks of `periods` drain periods.
  void Drains(int periods) { Tick(periods * (s.MeterVisible != False ? 5 : 1)); }

  size_t Mark() const { return host.calls.size(); }
  int EventsSince(size_t mark, Event event) const {
    return static_cast<int>(
        host.CallsSince(mark, "Event " + std::to_string(static_cast<int>(event))).size());
  }

  // The file as it is on disk (empty when it cannot be read).
  std::vector<uint8_t> File(const std::string& name = "take.wav") const {
    return sim::SimFileSystem::ReadAll(Path(name)).value_or(std::vector<uint8_t>{});
  }
  // The sample data of a file: everything after its 46-byte header.
  std::vector<uint8_t> Data(const std::string& name = "take.wav") const {
    const auto file = File(name);
    if (file.size() < 46) return {};
    return std::vector<uint8_t>(file.begin() + 46, file.end());
  }
};

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t v = 0;
  if (offset + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

inline uint16_t U16At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint16_t v = 0;
  if (offset + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 2);
  return v;
}

}  // namespace wendrix::test
