// The 32 constituent elements of the control, in the order the control creates them: what
// they are, where they lie (twips, relative to their parent) and how they look at creation.
// An element's number is its position in this table; the platform's Elements service and the
// drawing use that number.
//
// How the face is drawn (the drawing follows these choices):
// - every picture element draws a flat single-line frame inside its rectangle; the cells lie
//   on a 120-twip pitch but are 135 wide, so the frames of neighbours coincide;
// - where elements overlap, one created later lies above one created earlier (Picture1 above
//   the LEDs, the LEDs and lamps above Picture2);
// - Label1 draws its caption centred, in the surface's font, on a transparent background;
// - Picture1 shows the panel picture (resources/panel.wmf) at its natural size from its
//   top-left corner, clipped by the element.
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
  int parent;                    // element number of the parent, or -1 for the control's surface
  int left, top, width, height;  // twips (0 for the timer)
  uint32_t back_color;           // OLE colour at creation (a system colour has the high bit set)
  bool visible;                  // at creation
  bool enabled;                  // at creation: the timer starts disabled, the others answer clicks
  int interval;                  // the timer's interval in milliseconds at creation, else 0
};

inline constexpr int kElementCount = 32;
inline constexpr int kLedCount = 13;

// Element numbers of the named elements (positions in the table).
namespace element {
inline constexpr int Picture2 = 0;
inline constexpr int LEDOverflowRight = 1;
inline constexpr int LEDRightFirst = 2;  // LEDRight(0) .. LEDRight(12) are 2 .. 14
inline constexpr int LEDLeftLast = 15;   // LEDLeft(12) .. LEDLeft(0) are 15 .. 27
inline constexpr int LEDOverflowLeft = 28;
inline constexpr int Timer1 = 29;
inline constexpr int Picture1 = 30;
inline constexpr int Label1 = 31;
}  // namespace element

// System colours (OLE colours with the high bit set) that elements take at creation.
inline constexpr uint32_t kSysColorWindowFrame = 0x80000006;
inline constexpr uint32_t kSysColorButtonFace = 0x8000000F;

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
// The element number of `name` with control-array index `index`: for "LEDLeft" and "LEDRight"
// an index outside 0..12 fails with error 340; any other name takes only index -1 and is
// looked up as above.
int ElementByName(std::string_view name, int index);

// The caption of Label1: exactly 32 characters.
std::string_view Label1Caption();

}  // namespace wendrix
