#include "platform/win32/host_surface.h"

#include "platform/error.h"

namespace wendrix::win32 {
namespace {

int Checked(int element) {
  if (element < 0 || element >= kElementCount) throw Error(errc::BadIndex);
  return element;
}

}  // namespace

void SurfaceState::SetBackStyle(int16_t style) {
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  back_style_ = style;
}

void SurfaceState::SetBorderStyle(int16_t style) {
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  border_style_ = style;
}

ElementsState::ElementsState() {
  const auto& table = ElementTable();
  for (int e = 0; e < kElementCount; ++e) {
    visible_[e] = table[e].visible;
    colors_[e] = table[e].back_color;
  }
}

void ElementsState::SetVisible(int element, bool visible) { visible_[Checked(element)] = visible; }
bool ElementsState::Visible(int element) { return visible_[Checked(element)]; }
void ElementsState::SetBackColor(int element, uint32_t color) { colors_[Checked(element)] = color; }
uint32_t ElementsState::BackColor(int element) { return colors_[Checked(element)]; }

}  // namespace wendrix::win32
