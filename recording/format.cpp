#include "recording/format.h"

#include <cstdint>
#include <limits>
#include <string>

#include "platform/error.h"
#include "platform/variant.h"

namespace wendrix {
namespace {

constexpr int16_t kPcm = 1;  // WAVE_FORMAT_PCM

template <typename T>
T Narrow(double value) {
  const double rounded = RoundHalfEven(value);
  if (!(rounded >= std::numeric_limits<T>::min() && rounded <= std::numeric_limits<T>::max())) {
    throw Error(errc::Overflow);
  }
  return static_cast<T>(rounded);
}

}  // namespace

bool IsAcceptedSampleRate(int32_t value) {
  return value == 11025 || value == 22050 || value == 44100;
}

bool IsAcceptedChannelCount(int32_t value) { return value == 1 || value == 2; }

bool IsAcceptedSampleBits(int32_t value) { return value == 8 || value == 16; }

void CheckDeviceFormat(int32_t sample_rate, int32_t channel_count, int32_t sample_bits,
                       bool auto_buffer_size, int32_t buffer_bytes) {
  auto refuse = [](const std::string& what, const std::string& takes) {
    throw Error(errc::InvalidPropertyValue, "Invalid property value: a " + what +
                                                " is not one the recorder takes (" + takes + ")");
  };
  if (!IsAcceptedSampleRate(sample_rate))
    refuse("SamplesPerSecond of " + std::to_string(sample_rate), "11025, 22050 or 44100");
  if (!IsAcceptedChannelCount(channel_count))
    refuse("NumChannels of " + std::to_string(channel_count), "1 or 2");
  if (!IsAcceptedSampleBits(sample_bits))
    refuse("BitsPerSample of " + std::to_string(sample_bits), "8 or 16");
  // With AutoCalculateBuff the ring becomes one second of the format, always a valid length.
  if (auto_buffer_size) return;
  const int32_t frame = sample_bits / 8 * channel_count;
  if (buffer_bytes < frame || buffer_bytes > kLargestRing) {
    refuse("BufferLength of " + std::to_string(buffer_bytes) + " bytes",
           "one sample frame of " + std::to_string(frame) + " bytes up to " +
               std::to_string(kLargestRing) + " bytes");
  }
}

int32_t OneSecondBytes(int32_t sample_rate, int32_t channel_count, int32_t sample_bits) {
  // channels x rate is a 32-bit product and overflows as one; only the width factor is
  // fractional (a width that is not a multiple of 8 gives a fraction, rounded to even).
  const int64_t samples = static_cast<int64_t>(channel_count) * sample_rate;
  if (samples < std::numeric_limits<int32_t>::min() ||
      samples > std::numeric_limits<int32_t>::max()) {
    throw Error(errc::Overflow);
  }
  return Narrow<int32_t>(sample_bits / 8.0 * static_cast<double>(samples));
}

WaveFormat DeriveDeviceFormat(int32_t sample_rate, int32_t channel_count, int32_t sample_bits) {
  WaveFormat f;
  f.nChannels = Narrow<int16_t>(channel_count);
  f.wFormatTag = kPcm;
  f.nSamplesPerSec = sample_rate;
  f.wBitsPerSample = Narrow<int16_t>(sample_bits);
  f.nBlockAlign = Narrow<int16_t>(f.wBitsPerSample / 8.0 * f.nChannels);
  f.nAvgBytesPerSec = OneSecondBytes(f.nSamplesPerSec, f.nChannels, f.wBitsPerSample);
  return f;
}

}  // namespace wendrix
