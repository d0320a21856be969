#include "platform/win32/host_surface.h"

#include "platform/error.h"

namespace wendrix::win32 {
namespace {

int Checked(int element) {
  if (element < 0 || element >= kElementCount) throw Error(errc::BadIndex);
  return element;
}

}  // namespace

// Only a real change is told: the core assigns the same values again and again (the resize
// rule on every notification, all 13 LEDs of a bank on every meter slice).
void SurfaceState::SetWidth(float twips) {
  if (twips == width_) return;
  width_ = twips;
  if (observer_) observer_->SizeChanged();
}

void SurfaceState::SetHeight(float twips) {
  if (twips == height_) return;
  height_ = twips;
  if (observer_) observer_->SizeChanged();
}

void SurfaceState::SetBackColor(uint32_t color) {
  if (color == back_color_) return;
  back_color_ = color;
  if (observer_) observer_->AppearanceChanged();
}

void SurfaceState::SetBackStyle(int16_t style) {
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  if (style == back_style_) return;
  back_style_ = style;
  if (observer_) observer_->AppearanceChanged();
}

void SurfaceState::SetBorderStyle(int16_t style) {
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  if (style == border_style_) return;
  border_style_ = style;
  if (observer_) observer_->AppearanceChanged();
}

ElementsState::ElementsState() {
  const auto& table = ElementTable();
  for (int e = 0; e < kElementCount; ++e) {
    visible_[e] = table[e].visible;
    colors_[e] = table[e].back_color;
  }
}

void ElementsState::SetVisible(int element, bool visible) {
  if (visible_[Checked(element)] == visible) return;
  visible_[element] = visible;
  if (observer_) observer_->ElementChanged(element);
}

bool ElementsState::Visible(int element) { return visible_[Checked(element)]; }

void ElementsState::SetBackColor(int element, uint32_t color) {
  if (colors_[Checked(element)] == color) return;
  colors_[element] = color;
  if (observer_) observer_->ElementChanged(element);
}

uint32_t ElementsState::BackColor(int element) { return colors_[Checked(element)]; }

}  // namespace wendrix::win32
