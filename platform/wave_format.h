// The PCM wave-format record, in the field order and widths of WAVEFORMATEX.
#pragma once

#include <array>
#include <cstdint>

namespace wendrix {

struct WaveFormat {
  int16_t wFormatTag = 0;  // 1 = PCM
  int16_t nChannels = 0;
  int32_t nSamplesPerSec = 0;
  int32_t nAvgBytesPerSec = 0;
  int16_t nBlockAlign = 0;
  int16_t wBitsPerSample = 0;
  int16_t cbSize = 0;  // nothing ever sets it

  friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// The 18 bytes a device or a file reads: the fields little-endian at 0, 2, 4, 8, 12, 14, 16.
std::array<uint8_t, 18> SerializeWaveFormat(const WaveFormat& f);

}  // namespace wendrix
