// The LED banks and overflow lamps: painting a level, clearing a bank, the lamp latch.
#include <algorithm>

#include "control/control.h"
#include "control/elements.h"
#include "meter/led_levels.h"
#include "platform/error.h"

namespace wendrix {
namespace {

int LampOf(Bank bank) {
  return bank == Bank::Left ? element::LEDOverflowLeft : element::LEDOverflowRight;
}

}  // namespace

void Control::PaintBar(Bank bank, Currency level) {
  const BarPlan plan = PlanBar(level);
  if (plan.clear) {
    // A failing clear ends the clear, not the tick: what it did not reach keeps its colour.
    try {
      bank == Bank::Left ? ClearLeftMeter() : ClearRightMeter();
    } catch (const Error&) {
    }
    return;
  }
  const bool left = bank == Bank::Left;
  // Each colour stands alone: a failing one is skipped and the bar goes on.
  const auto paint = [&](int j, uint32_t color) {
    try {
      p_.elements.SetBackColor(LedOf(left, j), color);
    } catch (const Error&) {
    }
  };
  // Only a positive level far beyond full scale asks for LEDs past 12; those do not exist
  // and their assignments would all fail, so they are not tried.
  const int last_lit = static_cast<int>(std::min<int64_t>(plan.last_lit, kTopLed));
  for (int j = 0; j <= last_lit; ++j) paint(j, LedOnColor(j));
  if (plan.top_lit) {
    paint(kTopLed, LedOnColor(kTopLed));
  } else {
    for (int j = last_lit + 1; j <= kTopLed; ++j) paint(j, LedOffColor(j));
  }
}

void Control::ClearLeftMeter() {
  for (int j = 0; j < kLedCount; ++j) p_.elements.SetBackColor(LEDLeft(j), LedOffColor(j));
  p_.elements.SetBackColor(element::LEDOverflowLeft, kLampOffColor);
}

void Control::ClearRightMeter() {
  for (int j = 0; j < kLedCount; ++j) p_.elements.SetBackColor(LEDRight(j), LedOffColor(j));
  p_.elements.SetBackColor(element::LEDOverflowRight, kLampOffColor);
}

void Control::LightLamp(Bank bank) { p_.elements.SetBackColor(LampOf(bank), kLampOnColor); }

// A click resets the latch whatever Enabled and the recording state are; during a recording
// the next slice at full scale lights the lamp again.
void Control::LEDOverflowLeft_Click() {
  p_.elements.SetBackColor(element::LEDOverflowLeft, kLampOffColor);
}

void Control::LEDOverflowRight_Click() {
  p_.elements.SetBackColor(element::LEDOverflowRight, kLampOffColor);
}

}  // namespace wendrix
