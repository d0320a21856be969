// dBLeft and dBRight: the last measured level of each channel, read-only.
#include "control/control.h"
#include "platform/error.h"

namespace wendrix {
namespace {

// -200 is never a measured level (those are -100 or -90.3087 .. 0): it means none exists yet.
constexpr double kNoLevel = -200;

Variant LevelOrNoSound(const Variant& level) {
  if (NumericEquals(level, kNoLevel)) return Variant::String("No Sound");
  return level;
}

}  // namespace

Variant Control::get_dBLeft() const { return LevelOrNoSound(s_.LevelLeftDb); }
Variant Control::get_dBRight() const { return LevelOrNoSound(s_.LevelRightDb); }

// The levels are the meter's to set; the stored values stay as they are.
void Control::put_dBLeft(const Variant&) { RefuseSet(); }
void Control::put_dBRight(const Variant&) { RefuseSet(); }

}  // namespace wendrix
