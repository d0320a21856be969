// Helpers of the Windows platform tests: a temporary directory and whole-file reads through
// the plain Win32 calls, and a container that records what the control asks of it.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/container.h"

namespace wendrix::test {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with its files when the
// object goes. Paths are UTF-8.
class WinTempDir {
 public:
  WinTempDir();
  ~WinTempDir();
  WinTempDir(const WinTempDir&) = delete;
  WinTempDir& operator=(const WinTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// The whole content of a file, read with another opening than the writer's; nullopt when it
// cannot be read.
std::optional<Bytes> ReadAll(const std::string& path);
bool WriteAll(const std::string& path, const Bytes& content);

uint32_t U32At(const Bytes& b, size_t at);
uint16_t U16At(const Bytes& b, size_t at);
std::string TextAt(const Bytes& b, size_t at);

// A container that keeps the events and message boxes; the host runs its program.
class RecordingContainer : public Container {
 public:
  std::vector<Event> events;
  std::vector<std::string> message_boxes;

  void PropertyChanged(const std::string&) override {}
  bool AmbientUserMode() override { return true; }
  void RaiseEvent(Event event) override { events.push_back(event); }
  void MessageBox(const std::string& text) override { message_boxes.push_back(text); }
};

// A Timer1 that only keeps its settings; the test delivers the ticks.
class ManualTimer : public Timer {
 public:
  void SetInterval(int32_t ms) override { interval = ms; }
  int32_t Interval() override { return interval; }
  void SetEnabled(bool on) override { enabled = on; }
  bool Enabled() override { return enabled; }
  int32_t interval = 0;
  bool enabled = false;
};

// Seconds on a monotonic clock.
double Now();

// The tone the test audio environment plays into the default recording device, per channel:
// WENDRIX_TONE_LEFT / WENDRIX_TONE_RIGHT = "FREQUENCY:PEAK" (peak as a fraction of full scale).
struct Tone {
  double frequency_hz = 0;
  double peak = 0;
  double peak_db() const;
};
// Both tones, or nullopt when no known tone plays (then a missing device is no failure).
std::optional<std::pair<Tone, Tone>> ExpectedTones();

// One channel of interleaved 16-bit frames: its peak and its frequency from the rising zero
// crossings.
struct ChannelStats {
  double peak_db = -200;
  double frequency_hz = 0;
};
ChannelStats Analyse(const int16_t* samples, size_t frames, int channel, int channels, int rate);

// Sets up COM on this thread for the scope (DirectSound needs an apartment).
class ComScope {
 public:
  ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComScope() { CoUninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
};

}  // namespace wendrix::test
