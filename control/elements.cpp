#include "control/elements.h"

#include "meter/led_levels.h"
#include "platform/error.h"

namespace wendrix {
namespace {

constexpr int kPitch = 120;  // LED cells are 135 wide on a 120 pitch: frames coincide
constexpr int kCellWidth = 135;
constexpr int kRowHeight = 255;
constexpr int kLeftRowTop = 0;
constexpr int kRightRowTop = 240;  // the rows overlap by 15 twips
constexpr int kLampLeft = 1680;    // pitch position 14

constexpr ElementDef Picture(std::string_view name, int index, int left, int top, int width,
                             int height, uint32_t color) {
  return ElementDef{name, index, ElementKind::Picture, -1, left, top, width, height, color, true,
                    true, 0};
}

constexpr ElementDef Led(std::string_view name, int index, int top) {
  return Picture(name, index, kPitch * index, top, kCellWidth, kRowHeight, LedOffColor(index));
}

constexpr std::array<ElementDef, kElementCount> BuildTable() {
  std::array<ElementDef, kElementCount> t{};
  int n = 0;
  // Picture2 starts visible: no code touches it, and at most its top 30 twips fall inside
  // the control, as a line under the right row.
  t[n++] = Picture("Picture2", -1, 0, 480, 1815, 255, kSysColorWindowFrame);
  t[n++] = Picture("LEDOverflowRight", -1, kLampLeft, kRightRowTop, kCellWidth, kRowHeight,
                   kLampOffColor);
  for (int i = 0; i < kLedCount; ++i) t[n++] = Led("LEDRight", i, kRightRowTop);
  for (int i = kLedCount - 1; i >= 0; --i) t[n++] = Led("LEDLeft", i, kLeftRowTop);
  t[n++] =
      Picture("LEDOverflowLeft", -1, kLampLeft, kLeftRowTop, kCellWidth, kRowHeight, kLampOffColor);
  t[n++] = ElementDef{"Timer1", -1, ElementKind::Timer, -1, 0, 0, 0, 0, 0, false, false, 500};
  // Picture1 has no colour of its own: the button face shows beside its picture.
  t[n++] = Picture("Picture1", -1, 0, 0, 1815, 495, kSysColorButtonFace);
  // Label1 is transparent: its colour never shows. It is visible whenever Picture1 is.
  t[n++] = ElementDef{"Label1",
                      -1,
                      ElementKind::Label,
                      element::Picture1,
                      0,
                      0,
                      1770,
                      435,
                      kSysColorButtonFace,
                      true,
                      true,
                      0};
  return t;
}

constexpr std::array<ElementDef, kElementCount> kTable = BuildTable();

static_assert(kTable[element::Picture2].name == "Picture2");
static_assert(kTable[element::LEDOverflowRight].name == "LEDOverflowRight");
static_assert(kTable[element::LEDRightFirst].name == "LEDRight" &&
              kTable[element::LEDRightFirst].index == 0);
static_assert(kTable[element::LEDLeftLast].name == "LEDLeft" &&
              kTable[element::LEDLeftLast].index == 12);
static_assert(kTable[element::LEDOverflowLeft].name == "LEDOverflowLeft");
static_assert(kTable[element::Timer1].name == "Timer1");
static_assert(kTable[element::Picture1].name == "Picture1");
static_assert(kTable[element::Label1].name == "Label1");

// Form names compare as the host's identifiers do: without regard to case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

constexpr std::string_view kCaption = "Wendrix Control By Wendrix Team.";
static_assert(kCaption.size() == 32);

}  // namespace

const std::array<ElementDef, kElementCount>& ElementTable() { return kTable; }

int LEDLeft(int index) { return LedOf(true, index); }
int LEDRight(int index) { return LedOf(false, index); }

int LedOf(bool left, int index) {
  if (index < 0 || index >= kLedCount) throw Error(errc::BadIndex);
  return left ? element::LEDLeftLast + (kLedCount - 1 - index) : element::LEDRightFirst + index;
}

int ElementByName(std::string_view name) {
  for (int e = 0; e < kElementCount; ++e) {
    if (kTable[e].index < 0 && SameName(kTable[e].name, name)) return e;
  }
  return -1;
}

int ElementByName(std::string_view name, int index) {
  if (SameName(name, "LEDLeft")) return LEDLeft(index);
  if (SameName(name, "LEDRight")) return LEDRight(index);
  return index == -1 ? ElementByName(name) : -1;
}

std::string_view Label1Caption() { return kCaption; }

}  // namespace wendrix
