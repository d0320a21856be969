// The control's surface and constituent elements as the COM object keeps them: the values the
// core sets, held until the window and drawing of the control read them.
#pragma once

#include <array>
#include <cstdint>

#include "control/elements.h"
#include "platform/container.h"

namespace wendrix::win32 {

class SurfaceState : public Surface {
 public:
  void SetWidth(float twips) override { width_ = twips; }
  void SetHeight(float twips) override { height_ = twips; }
  float Width() override { return width_; }
  float Height() override { return height_; }
  uint32_t BackColor() override { return back_color_; }
  void SetBackColor(uint32_t color) override { back_color_ = color; }
  int16_t BackStyle() override { return back_style_; }
  // 0 or 1; another value fails with error 380.
  void SetBackStyle(int16_t style) override;
  int16_t BorderStyle() override { return border_style_; }
  void SetBorderStyle(int16_t style) override;

 private:
  float width_ = 1830;
  float height_ = 510;
  // The design values: mid grey, transparent, fixed single (the persisted defaults).
  uint32_t back_color_ = 0x808080;
  int16_t back_style_ = 0;
  int16_t border_style_ = 1;
};

class ElementsState : public Elements {
 public:
  ElementsState();
  void SetVisible(int element, bool visible) override;
  bool Visible(int element) override;
  void SetBackColor(int element, uint32_t color) override;
  uint32_t BackColor(int element) override;

 private:
  std::array<bool, kElementCount> visible_{};
  std::array<uint32_t, kElementCount> colors_{};
};

}  // namespace wendrix::win32
