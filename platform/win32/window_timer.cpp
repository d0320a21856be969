#include "platform/win32/window_timer.h"

#include <utility>

#include "platform/error.h"

namespace wendrix::win32 {
namespace {

constexpr UINT_PTR kTimerId = 1;
const wchar_t kClassName[] = L"WendrixTimer1";

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

}  // namespace

WindowTimer::WindowTimer(std::function<void()> on_tick) : on_tick_(std::move(on_tick)) {
  HINSTANCE module = ThisModule();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WindowTimer::WindowProc;
  wc.hInstance = module;
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // fails harmlessly when the class exists already
  window_ =
      CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (!window_)
    throw Error::Platform(HRESULT_FROM_WIN32(GetLastError()), "CreateWindowEx: timer window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WindowTimer::~WindowTimer() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  // The last timer takes the class with it, so that it never outlives the module's code; while
  // other timers exist this fails and the class stays.
  UnregisterClassW(kClassName, ThisModule());
}

void WindowTimer::SetInterval(int32_t milliseconds) {
  if (milliseconds < 0 || milliseconds > 65535) throw Error(errc::InvalidPropertyValue);
  interval_ = milliseconds;
  Apply();
}

void WindowTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Apply();
}

void WindowTimer::Apply() {
  bool run = enabled_ && interval_ > 0;
  if (run) {
    // Setting the timer again restarts its period, as changing a running timer's interval does.
    if (!SetTimer(window_, kTimerId, static_cast<UINT>(interval_), nullptr))
      throw Error::Platform(HRESULT_FROM_WIN32(GetLastError()), "SetTimer");
  } else if (running_) {
    KillTimer(window_, kTimerId);
  }
  running_ = run;
}

LRESULT CALLBACK WindowTimer::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kTimerId) {
    auto* self = reinterpret_cast<WindowTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->running_ && self->on_tick_) self->on_tick_();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace wendrix::win32
