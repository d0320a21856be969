#include "platform/win32/window_timer.h"

#include <algorithm>
#include <utility>

#include "platform/error.h"
#include "platform/win32/system_error.h"
#include "platform/win32/this_module.h"

namespace wendrix::win32 {
namespace {

constexpr UINT_PTR kTimerId = 1;
const wchar_t kClassName[] = L"WendrixTimer1";

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
  if (!window_) throw Error::Platform(LastErrorHResult(), "CreateWindowEx: timer window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WindowTimer::~WindowTimer() {
  if (running_ && host_window_) KillTimer(host_window_, TargetId());
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

int64_t WindowTimer::GranularityMicroseconds() {
  DWORD adjustment = 0;
  DWORD increment = 0;  // in 100 ns units
  BOOL disabled = FALSE;
  int64_t clock_us = 15625;
  if (GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && increment > 0)
    clock_us = (int64_t{increment} + 9) / 10;
  return std::max<int64_t>(int64_t{USER_TIMER_MINIMUM} * 1000, clock_us);
}

void WindowTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Apply();
}

UINT_PTR WindowTimer::TargetId() const {
  return host_window_ ? reinterpret_cast<UINT_PTR>(this) : kTimerId;
}

void WindowTimer::UseWindow(HWND window) noexcept {
  if (window == host_window_) return;
  if (running_) KillTimer(Target(), TargetId());
  running_ = false;
  host_window_ = window;
  try {
    Apply();
    return;
  } catch (...) {
  }
  // The control's window refused the timer: the timer's own window takes it. Should that fail
  // too, the timer stays stopped until its next change.
  host_window_ = nullptr;
  try {
    Apply();
  } catch (...) {
  }
}

void WindowTimer::Apply() {
  bool run = enabled_ && interval_ > 0;
  if (run) {
    // Setting the timer again restarts its period, as changing a running timer's interval does.
    if (!SetTimer(Target(), TargetId(), static_cast<UINT>(interval_),
                  host_window_ ? &WindowTimer::TimerProc : nullptr))
      throw Error::Platform(LastErrorHResult(), "SetTimer");
  } else if (running_) {
    KillTimer(Target(), TargetId());
  }
  running_ = run;
}

void CALLBACK WindowTimer::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  // KillTimer removes a stopped timer's pending ticks, so the object is alive here.
  auto* self = reinterpret_cast<WindowTimer*>(id);
  if (self && self->running_) self->Tick();
}

void WindowTimer::Tick() noexcept {
  // No exception may unwind into the system's frames that called the timer (a 32-bit DWARF
  // unwind cannot pass them; on x64 it is undefined): a tick that throws is a tick lost.
  try {
    if (on_tick_) on_tick_();
  } catch (...) {
  }
}

LRESULT CALLBACK WindowTimer::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kTimerId) {
    auto* self = reinterpret_cast<WindowTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->running_) self->Tick();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace wendrix::win32
