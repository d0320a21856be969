// Timer1 on Windows: a window timer on a message-only window of the creating (user-interface)
// thread, so ticks arrive through the host's message loop like every other notification.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>
#include <functional>

#include "platform/container.h"

namespace wendrix::win32 {

class WindowTimer : public Timer {
 public:
  // `on_tick` runs for every tick, on the thread that created the timer; it must not throw.
  explicit WindowTimer(std::function<void()> on_tick);
  ~WindowTimer() override;
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  // 0 .. 65535 milliseconds; another value fails with error 380.
  void SetInterval(int32_t milliseconds) override;
  int32_t Interval() override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() override { return enabled_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Starts or stops the window timer to match Enabled and Interval.
  void Apply();

  std::function<void()> on_tick_;
  HWND window_ = nullptr;
  int32_t interval_ = 0;
  bool enabled_ = false;
  bool running_ = false;
};

}  // namespace wendrix::win32
