// The control's surface and constituent elements as the COM object keeps them: the values the
// core sets, which the control's window and drawing read. A change that alters what is shown
// is told to the observer (the control's window), which repaints or resizes.
#pragma once

#include <array>
#include <cstdint>

#include "control/elements.h"
#include "platform/container.h"

namespace wendrix::win32 {

// Told of every change that alters the face; called on the user-interface thread, must not throw.
class FaceObserver {
 public:
  virtual ~FaceObserver() = default;
  // The surface's width or height changed (the core's resize rule).
  virtual void SizeChanged() = 0;
  // Background colour, background style or border style changed.
  virtual void AppearanceChanged() = 0;
  // An element's colour or visibility changed.
  virtual void ElementChanged(int element) = 0;
};

class SurfaceState : public Surface {
 public:
  // `observer` (may be null) must outlive this object or be replaced first.
  void SetObserver(FaceObserver* observer) { observer_ = observer; }
  void SetWidth(float twips) override;
  void SetHeight(float twips) override;
  float Width() override { return width_; }
  float Height() override { return height_; }
  uint32_t BackColor() override { return back_color_; }
  void SetBackColor(uint32_t color) override;
  int16_t BackStyle() override { return back_style_; }
  // 0 or 1; another value fails with error 380.
  void SetBackStyle(int16_t style) override;
  int16_t BorderStyle() override { return border_style_; }
  void SetBorderStyle(int16_t style) override;

 private:
  FaceObserver* observer_ = nullptr;
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
  // `observer` (may be null) must outlive this object or be replaced first.
  void SetObserver(FaceObserver* observer) { observer_ = observer; }
  void SetVisible(int element, bool visible) override;
  bool Visible(int element) override;
  void SetBackColor(int element, uint32_t color) override;
  uint32_t BackColor(int element) override;

 private:
  FaceObserver* observer_ = nullptr;
  std::array<bool, kElementCount> visible_{};
  std::array<uint32_t, kElementCount> colors_{};
};

}  // namespace wendrix::win32
