#include "control/com/window.h"

#include <utility>

#include "control/com/module.h"
#include "platform/stage_clock.h"
#include "platform/win32/system_error.h"

namespace wendrix::com {
namespace {

const wchar_t kClassName[] = L"WendrixControl";
constexpr UINT kDpiChangedAfterParent = 0x02E3;  // WM_DPICHANGED_AFTERPARENT (Windows 10 1703)

// The window's own DPI: a per-monitor-aware host (.NET, Office) on a monitor with other scaling
// than the system's gets its pixels. GetDpiForWindow (Windows 10 1607) where the system has it,
// else the logical pixels of the window's DC (the system DPI).
FaceScale WindowScale(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi) {
    if (const UINT dpi = get_dpi(window)) {
      FaceScale scale;
      scale.x_num = scale.y_num = static_cast<int>(dpi);
      return scale;
    }
  }
  HDC dc = GetDC(window);
  const FaceScale scale = ScaleOf(dc);
  if (dc) ReleaseDC(window, dc);
  return scale;
}

}  // namespace

ControlWindow::ControlWindow(win32::SurfaceState& surface, win32::ElementsState& elements,
                             std::function<void(int)> on_click, std::function<bool()> takes_clicks,
                             std::function<void()> on_destroyed)
    : surface_(surface),
      elements_(elements),
      on_click_(std::move(on_click)),
      takes_clicks_(std::move(takes_clicks)),
      on_destroyed_(std::move(on_destroyed)) {}

ControlWindow::~ControlWindow() {
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(std::exchange(window_, nullptr));
  }
  // The last window takes the class with it, so that it never outlives the module's code;
  // while other windows exist this fails and the class stays.
  UnregisterClassW(kClassName, ModuleHandle());
}

HRESULT ControlWindow::Create(HWND parent, const RECT& position) {
  if (window_) return S_OK;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &ControlWindow::WindowProc;
  wc.hInstance = ModuleHandle();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when the class exists already
  window_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_CLIPSIBLINGS, position.left,
                            position.top, position.right - position.left,
                            position.bottom - position.top, parent, nullptr, ModuleHandle(), this);
  if (!window_) return win32::LastErrorHResult();
  scale_ = WindowScale(window_);
  return S_OK;
}

void ControlWindow::Move(const RECT& position) {
  if (!window_) return;
  SetWindowPos(window_, nullptr, position.left, position.top, position.right - position.left,
               position.bottom - position.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT ControlWindow::Placement() const {
  RECT placed{};
  if (!window_) return placed;
  GetWindowRect(window_, &placed);
  MapWindowPoints(HWND_DESKTOP, GetParent(window_), reinterpret_cast<POINT*>(&placed), 2);
  return placed;
}

void ControlWindow::Clip(const RECT* visible) {
  if (!window_) return;
  RECT placed = Placement();
  RECT shown = placed;
  if (visible) IntersectRect(&shown, &placed, visible);
  if (EqualRect(&shown, &placed)) {
    if (has_region_) SetWindowRgn(window_, nullptr, TRUE);
    has_region_ = false;
    return;
  }
  // The region is in the window's own coordinates; the window owns it once it is set.
  OffsetRect(&shown, -placed.left, -placed.top);
  if (has_region_ && EqualRect(&shown, &region_)) return;
  HRGN region = CreateRectRgnIndirect(&shown);
  if (region && SetWindowRgn(window_, region, TRUE)) {
    has_region_ = true;
    region_ = shown;
  } else if (region) {
    DeleteObject(region);
  }
}

void ControlWindow::Show(bool shown) {
  if (window_) ShowWindow(window_, shown ? SW_SHOWNA : SW_HIDE);
}

void ControlWindow::Invalidate(int element) {
  if (!window_) return;
  if (element < 0) {
    InvalidateRect(window_, nullptr, FALSE);
    return;
  }
  // A frame may coincide with a neighbour's; one pixel more on each side repaints both.
  RECT r = ElementRect(element, scale_);
  InflateRect(&r, 1, 1);
  InvalidateRect(window_, &r, FALSE);
}

void ControlWindow::Invalidate(const std::bitset<kElementCount>& elements) {
  if (!window_ || elements.none()) return;
  RECT all{};
  for (int e = 0; e < kElementCount; ++e) {
    if (!elements.test(static_cast<size_t>(e))) continue;
    RECT r = ElementRect(e, scale_);
    InflateRect(&r, 1, 1);
    UnionRect(&all, &all, &r);
  }
  InvalidateRect(window_, &all, FALSE);
}

void ControlWindow::SetBackground(std::optional<uint32_t> ole_color) {
  if (background_ == ole_color) return;
  background_ = ole_color;
  if (surface_.BackStyle() == 0) Invalidate(-1);
}

LRESULT CALLBACK ControlWindow::WindowProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ControlWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->window_ == window) {
    // No exception may unwind into the system's frames (a 32-bit DWARF unwind cannot pass
    // them; on x64 it is undefined): what a handler throws ends here, as a message not handled.
    try {
      return self->Handle(message, wparam, lparam);
    } catch (...) {
      return DefWindowProcW(window, message, wparam, lparam);
    }
  }
  if (self && !self->window_ && message == WM_NCCREATE) self->window_ = window;
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT ControlWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_PAINT: {
      profile::Scope paint(profile::kWindowPaint);
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      // EndPaint whatever the paint met: else the window would be asked to paint for ever.
      try {
        if (dc) Paint(dc, ps.rcPaint);
      } catch (...) {
      }
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(window_, &client);
      Paint(reinterpret_cast<HDC>(wparam), client);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      // In a designer, or when the container says its UI is dead, a press is not the control's.
      if (takes_clicks_ && !takes_clicks_()) return 0;
      POINT p{static_cast<SHORT>(LOWORD(lparam)), static_cast<SHORT>(HIWORD(lparam))};
      pressed_ = ElementAt(p, scale_, elements_);
      SetCapture(window_);
      return 0;
    }
    case WM_LBUTTONUP: {
      POINT p{static_cast<SHORT>(LOWORD(lparam)), static_cast<SHORT>(HIWORD(lparam))};
      int pressed = std::exchange(pressed_, -1);
      if (GetCapture() == window_) ReleaseCapture();
      if (pressed >= 0 && ElementAt(p, scale_, elements_) == pressed && on_click_)
        on_click_(pressed);
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = -1;
      return 0;
    case kDpiChangedAfterParent: {
      // Moved to a monitor of another scale: the face is laid out again in its pixels; its
      // size in HIMETRIC stays what it is, its size in pixels changes and the container must
      // hear of it (OnPosRectChange), or it and the control disagree on the rectangle.
      const FaceScale scale = WindowScale(window_);
      if (scale.x_num == scale_.x_num && scale.y_num == scale_.y_num) return 0;
      scale_ = scale;
      InvalidateRect(window_, nullptr, FALSE);
      if (on_rescaled_) {
        // The container may deactivate the control while it hears of it, which destroys this
        // object: nothing of it is used after the call.
        const std::function<void()> resize = on_rescaled_;
        resize();
        return 0;
      }
      const SIZE size = FaceSize(scale_, surface_);
      SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DESTROY:
      // Only a window destroyed by someone else gets here (the destructor detaches first): a
      // container that destroys it before deactivating the control. What uses it lets go now.
      if (on_destroyed_) on_destroyed_();
      return 0;
    case WM_NCDESTROY: {
      const LRESULT result = DefWindowProcW(window_, message, wparam, lparam);
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      has_region_ = false;
      return result;
    }
    case WM_WINDOWPOSCHANGING: {
      // The control keeps its own size: a container that sizes the window directly moves it,
      // but the size stays the face's.
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if (!(pos->flags & SWP_NOSIZE)) {
        SIZE size = FaceSize(scale_, surface_);
        pos->cx = size.cx;
        pos->cy = size.cy;
      }
      return DefWindowProcW(window_, message, wparam, lparam);
    }
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

void ControlWindow::Paint(HDC dc, const RECT& update) {
  RECT client;
  GetClientRect(window_, &client);
  if (IsRectEmpty(&client)) return;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (!memory || !bitmap) {
    // Without memory for a buffer the face is drawn straight onto the window.
    if (memory) DeleteDC(memory);
    if (surface_.BackStyle() == 0) PaintParentBackground(dc, client);
    DrawFace(dc, client, scale_, surface_, elements_);
    return;
  }
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (surface_.BackStyle() == 0) PaintParentBackground(memory, client);
  DrawFace(memory, client, scale_, surface_, elements_);
  BitBlt(dc, update.left, update.top, update.right - update.left, update.bottom - update.top,
         memory, update.left, update.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

// The container's own background shows through a transparent control: the parent paints its
// background (and, if it can print itself, its content) into the buffer, shifted so that the
// part under the control lands in the buffer's origin — what themed controls do.
void ControlWindow::PaintParentBackground(HDC memory, const RECT& client) {
  HWND parent = GetParent(window_);
  if (background_) {
    HBRUSH brush = CreateSolidBrush(GdiColor(*background_));
    FillRect(memory, &client, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    if (brush) DeleteObject(brush);
  } else {
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
  }
  if (!parent) return;
  POINT origin{0, 0};
  MapWindowPoints(window_, parent, &origin, 1);
  POINT old;
  SetViewportOrgEx(memory, -origin.x, -origin.y, &old);
  SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  SetViewportOrgEx(memory, old.x, old.y, nullptr);
}

}  // namespace wendrix::com
