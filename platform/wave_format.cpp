#include "platform/wave_format.h"

#include <cstddef>
#include <type_traits>

namespace wendrix {
namespace {

template <typename T>
void PutLE(std::array<uint8_t, 18>& out, std::size_t at, T value) {
  auto v = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::array<uint8_t, 18> SerializeWaveFormat(const WaveFormat& f) {
  std::array<uint8_t, 18> out{};
  PutLE(out, 0, f.wFormatTag);
  PutLE(out, 2, f.nChannels);
  PutLE(out, 4, f.nSamplesPerSec);
  PutLE(out, 8, f.nAvgBytesPerSec);
  PutLE(out, 12, f.nBlockAlign);
  PutLE(out, 14, f.wBitsPerSample);
  PutLE(out, 16, f.cbSize);
  return out;
}

}  // namespace wendrix
