// The arithmetic of the level meter: which part of the sample block a tick measures, and how
// a peak becomes a level in dB.
#pragma once

#include <cstdint>

#include "platform/variant.h"

namespace wendrix {

// The level of a slice without signal, and the lamp threshold: a level above -0.01 dB (a
// 16-bit peak of 32730 or more) lights the overflow lamp.
inline constexpr Currency kSilenceLevel{-100 * 10000};
inline constexpr Currency kLampThreshold{-100};

// Word positions measured on a tick of 16-bit audio: the pairs (i, i + 1) for i = first,
// first + 2, ... while i <= last. Empty when first > last.
struct WordSlice {
  int32_t first = 0;
  int32_t last = -1;
};

// The slice of a block whose last word index is `n` for the tick fraction `p` (0.2, 0.4, 0.6,
// 0.8 or 1.0, as the tick handler's single-precision phase gives them):
//   s = p - 0.2 rounded to single precision;  a = floor(s * n);
//   first = a + 1 when a is even, else a (always odd, so word 0 is never read);
//   last = round_half_even((s + 0.2) * n - 1), all in double precision.
// Neighbouring slices may share or skip one pair; hosts have only ever seen this walk.
WordSlice SliceOfWords(float p, int32_t n);

// Frames measured on a tick of 8-bit audio: [begin, end). The block's `frames` frames are
// cut into five consecutive runs, the k-th (k = 1 .. 5, k = p * 5 rounded) holding frames
// floor((k - 1) * frames / 5) .. floor(k * frames / 5) - 1: every frame is read exactly once
// per cycle.
struct FrameSlice {
  int64_t begin = 0;
  int64_t end = 0;
};
FrameSlice SliceOfFrames(float p, int64_t frames);

// ln(x) / ln(10) in double precision; error 5 when x <= 0 (or not a number).
double Log10(double x);

// 20 * log10(peak / full_scale) rounded to four places, halves to even; kSilenceLevel for a
// peak of 0. The 16-bit full scale is 32767, the 8-bit one 127.
Currency LevelOfPeak(int32_t peak, int32_t full_scale);

// The magnitude of a signed 16-bit sample, or -1 for -32768, whose magnitude does not fit
// (such a word leaves the peak as it was).
inline int32_t MagnitudeOfWord(int16_t word) {
  return word == INT16_MIN ? -1 : (word < 0 ? -word : word);
}

// The magnitude of an unsigned 8-bit sample centred on 128, at most 127 (0 and 255 are both
// full scale).
inline int32_t MagnitudeOfByte(uint8_t byte) {
  const int32_t m = byte >= 128 ? byte - 128 : 128 - byte;
  return m > 127 ? 127 : m;
}

}  // namespace wendrix
