// Timer1 on Windows: a window timer on the control's window while a container has it active,
// else on a message-only window of the timer's own, both of the creating (user-interface)
// thread, so ticks arrive through the host's message loop like every other notification (a
// script host that pumps messages gets them too).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>
#include <functional>

#include "platform/container.h"

namespace wendrix::win32 {

class WindowTimer : public Timer {
 public:
  // `on_tick` runs for every tick, on the thread that created the timer; what it throws is
  // dropped there (that tick is lost), never let into the system's frames.
  explicit WindowTimer(std::function<void()> on_tick);
  ~WindowTimer() override;
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  // 0 .. 65535 milliseconds; another value fails with error 380.
  void SetInterval(int32_t milliseconds) override;
  int32_t Interval() override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() override { return enabled_; }
  // Windows raises an interval below USER_TIMER_MINIMUM (10 ms) to it and delivers ticks on
  // the system clock's interrupt (usually every 15.625 ms): the larger of the two.
  int64_t GranularityMicroseconds() override;

  // Moves the timer onto `window` (the control's window, of this thread), or back onto its own
  // window with nullptr. A running timer keeps running and starts a new period. The window
  // must outlive its use: hand it back before it is destroyed.
  void UseWindow(HWND window) noexcept;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // The tick of a timer set on a window that is not the timer's own: the timer's identifier
  // is the timer object itself.
  static void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
  void Tick() noexcept;
  HWND Target() const { return host_window_ ? host_window_ : window_; }
  UINT_PTR TargetId() const;
  // Starts or stops the window timer to match Enabled and Interval.
  void Apply();

  std::function<void()> on_tick_;
  HWND window_ = nullptr;
  HWND host_window_ = nullptr;
  int32_t interval_ = 0;
  bool enabled_ = false;
  bool running_ = false;
};

}  // namespace wendrix::win32
