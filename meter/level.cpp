#include "meter/level.h"

#include <algorithm>
#include <cmath>

#include "platform/error.h"

namespace wendrix {

WordSlice SliceOfWords(float p, int32_t n) {
  // s is a Single, widened again for the products: the small error of p - 0.2 in single
  // precision decides the bounds, so it must be reproduced exactly.
  const auto s = static_cast<float>(static_cast<double>(p) - 0.2);
  const double a = std::floor(static_cast<double>(s) * n);
  const double last = RoundHalfEven((static_cast<double>(s) + 0.2) * n - 1);
  if (!(a >= INT32_MIN && a <= INT32_MAX && last >= INT32_MIN && last <= INT32_MAX)) {
    throw Error(errc::Overflow);
  }
  const auto first = static_cast<int32_t>(a);
  return WordSlice{first % 2 == 0 ? first + 1 : first, static_cast<int32_t>(last)};
}

FrameSlice SliceOfFrames(float p, int64_t frames) {
  const int64_t k = std::clamp<int64_t>(std::llround(static_cast<double>(p) * 5), 1, 5);
  return FrameSlice{(k - 1) * frames / 5, k * frames / 5};
}

double Log10(double x) {
  if (!(x > 0)) throw Error(errc::InvalidProcedureCall);
  return std::log(x) / std::log(10.0);
}

Currency LevelOfPeak(int32_t peak, int32_t full_scale) {
  if (peak == 0) return kSilenceLevel;
  return CurrencyFromDouble(20 * Log10(static_cast<double>(peak) / full_scale));
}

}  // namespace wendrix
