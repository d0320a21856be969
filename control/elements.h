// The 32 constituent elements of the control, in the order the control creates them: what
// they are, where they lie (twips, relative to their parent) and how they look at creation.
// An element's number is its position in this table; the platform's Elements service and the
// drawing use that number.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace wendrix {

enum class ElementKind { Picture, Label, Timer };

struct ElementDef {
  std::string_view name;  // form name, e.g. "LEDLeft"
  int index;              // control-array index 0..12, or -1
  ElementKind kind;
  int parent;             // element number of the parent, or -1 for the control's surface
  int left, top, width, height;  // twips
  uint32_t back_color;    // OLE colour at creation
  bool visible;           // at creation
};

inline constexpr int kElementCount = 32;
inline constexpr int kLedCount = 13;

// Element numbers of the named elements (positions in the table).
namespace element {
inline constexpr int Picture2 = 0;
inline constexpr int LEDOverflowRight = 1;
inline constexpr int LEDRightFirst = 2;   // LEDRight(0) .. LEDRight(12) are 2 .. 14
inline constexpr int LEDLeftLast = 15;    // LEDLeft(12) .. LEDLeft(0) are 15 .. 27
inline constexpr int LEDOverflowLeft = 28;
inline constexpr int Timer1 = 29;
inline constexpr int Picture1 = 30;
inline constexpr int Label1 = 31;
}  // namespace element

// The table, in creation order.
const std::array<ElementDef, kElementCount>& ElementTable();

// The element number of LEDLeft(index) / LEDRight(index); any index outside 0..12 fails with
// run-time error 340, as a control array's missing element does.
int LEDLeft(int index);
int LEDRight(int index);
// The LED of a bank, by index (same rule).
int LedOf(bool left, int index);

// The element number of a name (for a control array, its element 0's name is not enough: use
// LEDLeft/LEDRight); -1 when there is no such element.
int ElementByName(std::string_view name);

// The caption of Label1: exactly 32 characters.
std::string_view Label1Caption();

}  // namespace wendrix
