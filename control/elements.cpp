#include "control/elements.h"

#include "platform/error.h"

namespace wendrix {

// TODO(build): the element table is not built yet.
const std::array<ElementDef, kElementCount>& ElementTable() {
  static const std::array<ElementDef, kElementCount> table{};
  return table;
}
int LEDLeft(int index) { return LedOf(true, index); }
int LEDRight(int index) { return LedOf(false, index); }
int LedOf(bool left, int index) {
  if (index < 0 || index >= kLedCount) throw Error(errc::BadIndex);
  return left ? element::LEDLeftLast + (kLedCount - 1 - index) : element::LEDRightFirst + index;
}
int ElementByName(std::string_view) { return -1; }
std::string_view Label1Caption() { return ""; }

}  // namespace wendrix
