// The control's window while a container has it in-place active: a child of the container's
// window whose client area is the surface. It paints the face double-buffered (only the parts
// invalidated since the last paint reach the screen) and turns clicks into element clicks.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>

#include "control/com/drawing.h"
#include "platform/win32/host_surface.h"

namespace wendrix::com {

class ControlWindow {
 public:
  // `on_click` runs with the element number when the user presses and releases the left button
  // over the same visible picture element, if `takes_clicks` said yes to the press (else the
  // press is not taken: no capture, no click); `on_destroyed` when someone else (the container)
  // destroys the window, while it still exists. None may throw.
  ControlWindow(win32::SurfaceState& surface, win32::ElementsState& elements,
                std::function<void(int element)> on_click, std::function<bool()> takes_clicks,
                std::function<void()> on_destroyed);
  ~ControlWindow();
  ControlWindow(const ControlWindow&) = delete;
  ControlWindow& operator=(const ControlWindow&) = delete;

  // Creates the window as a hidden child of `parent` at `position` (the parent's client
  // coordinates). Returns the failure's HRESULT.
  HRESULT Create(HWND parent, const RECT& position);
  // Null once the window was destroyed.
  HWND handle() const { return window_; }
  // Twips to the window's pixels (its own DPI, which follows the monitor's in a per-monitor-aware
  // host).
  const FaceScale& scale() const { return scale_; }

  // Moves and sizes the window to `position`. However else the window is moved or sized
  // (MoveWindow, SetWindowPos), its size stays the face's.
  void Move(const RECT& position);
  // The window's rectangle in the parent's client coordinates.
  RECT Placement() const;
  // Shows only the part of the window inside `visible` (the parent's client coordinates), or
  // all of it (nullptr).
  void Clip(const RECT* visible);
  void Show(bool shown);
  // Repaints the element's rectangle, or the whole face (-1), at the next paint.
  void Invalidate(int element);
  // Repaints the rectangle that holds all of `elements` at the next paint (one call to the
  // system for the LEDs of a tick).
  void Invalidate(const std::bitset<kElementCount>& elements);
  // The colour under a transparent face where the container paints nothing: the container's
  // ambient background (an OLE colour), or without one (nullopt) the system's button face.
  void SetBackground(std::optional<uint32_t> ole_color);
  // After a change of the window's DPI, `resize` sizes the window to the face and tells the
  // container, as any other change of size; without it the window sizes itself. Must not throw.
  void OnRescaled(std::function<void()> resize) { on_rescaled_ = std::move(resize); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  // Draws the whole client area into `dc` through a memory bitmap, copying `update` only.
  void Paint(HDC dc, const RECT& update);
  // With a transparent background, the container's background under the window.
  void PaintParentBackground(HDC memory, const RECT& client);

  win32::SurfaceState& surface_;
  win32::ElementsState& elements_;
  std::function<void(int)> on_click_;
  std::function<bool()> takes_clicks_;
  std::function<void()> on_destroyed_;
  std::optional<uint32_t> background_;
  std::function<void()> on_rescaled_;
  HWND window_ = nullptr;
  FaceScale scale_;
  int pressed_ = -1;
  bool has_region_ = false;
  RECT region_{};  // the window's region while it has one, in its own coordinates
};

}  // namespace wendrix::com
