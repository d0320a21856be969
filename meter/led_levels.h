// The LED bar as a pure function of a level: which LEDs a level lights and the colours of the
// LEDs and lamps. PaintBar applies it to the elements.
#pragma once

#include <cstdint>

#include "platform/variant.h"

namespace wendrix {

// OLE colours &H00BBGGRR.
inline constexpr uint32_t kGreenOnColor = 0x0000FF00;    // LEDs 0..9 lit
inline constexpr uint32_t kGreenOffColor = 0x00404000;   // LEDs 0..9 dark
inline constexpr uint32_t kOrangeOnColor = 0x000080FF;   // LEDs 10..12 lit
inline constexpr uint32_t kOrangeOffColor = 0x000040C0;  // LEDs 10..12 dark
inline constexpr uint32_t kLampOnColor = 0x000000FF;
inline constexpr uint32_t kLampOffColor = 0x00000080;

inline constexpr int kFirstOrangeLed = 10;
inline constexpr int kTopLed = 12;

constexpr uint32_t LedOnColor(int index) {
  return index < kFirstOrangeLed ? kGreenOnColor : kOrangeOnColor;
}
constexpr uint32_t LedOffColor(int index) {
  return index < kFirstOrangeLed ? kGreenOffColor : kOrangeOffColor;
}

// How PaintBar paints a bank for one level.
struct BarPlan {
  bool clear = false;  // the level is below -60: the bank and its lamp are cleared instead
  // LEDs 0 .. last_lit are lit, in that order. It can exceed 12 only for positive levels of
  // 65 dB and more, which the analysis never produces.
  int64_t last_lit = -1;
  // The level is above -0.5: LED 12 is lit as well; otherwise LEDs last_lit + 1 .. 12 are
  // turned off. (LEDs between last_lit and 12 are left alone only for positive levels.)
  bool top_lit = false;
};

// The plan for level `level`: n = |floor(|L| / 5) - 11|, |L| / 5 in double precision, so a
// level exactly on a 5 dB boundary belongs to the quieter side.
BarPlan PlanBar(Currency level);

}  // namespace wendrix
