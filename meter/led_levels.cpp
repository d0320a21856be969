#include "meter/led_levels.h"

#include <cmath>
#include <cstdlib>

namespace wendrix {
namespace {

constexpr int64_t kClearBelow = -600000;  // -60 dB in ten-thousandths
constexpr int64_t kTopAbove = -5000;      // -0.5 dB

}  // namespace

BarPlan PlanBar(Currency level) {
  BarPlan plan;
  if (level.ten_thousandths < kClearBelow) {
    plan.clear = true;
    return plan;
  }
  const double magnitude = std::fabs(CurrencyToDouble(level));
  plan.last_lit = std::llabs(static_cast<int64_t>(std::floor(magnitude / 5)) - 11);
  plan.top_lit = level.ten_thousandths > kTopAbove;
  return plan;
}

}  // namespace wendrix
