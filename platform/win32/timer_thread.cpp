#include "platform/win32/timer_thread.h"

#include <algorithm>
#include <utility>

#include "platform/win32/system_error.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace wendrix::win32 {

TimerThread::TimerThread(std::function<void()> tick, int64_t period_us) : tick_(std::move(tick)) {
  const LONG period_ms = static_cast<LONG>(std::clamp<int64_t>(period_us / 1000, 1, 60000));
  LARGE_INTEGER due{};
  due.QuadPart = -int64_t{period_ms} * 10000;  // relative, in 100 ns
  // Windows 10 1803 and later have high-resolution timers; older systems (and Wine) refuse the
  // flag and get the ordinary one, which keeps to the clock interrupt. Windows 10 1809 (LTSC
  // 2019, Server 2019) makes one but refuses to arm it as a periodic timer
  // (ERROR_INVALID_PARAMETER): the ordinary one is taken then too.
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
  if (timer_ && !SetWaitableTimer(timer_, &due, period_ms, nullptr, nullptr, FALSE)) {
    CloseHandle(timer_);
    timer_ = nullptr;
  }
  if (!timer_) {
    timer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    if (!timer_) throw SystemError("CreateWaitableTimer", LastErrorHResult());
    if (!SetWaitableTimer(timer_, &due, period_ms, nullptr, nullptr, FALSE)) {
      const HRESULT hr = LastErrorHResult();
      CloseHandle(timer_);
      throw SystemError("SetWaitableTimer", hr);
    }
  }
  thread_ = CreateThread(nullptr, 0, &TimerThread::Run, this, 0, nullptr);
  if (!thread_) {
    const HRESULT hr = LastErrorHResult();
    CloseHandle(timer_);
    throw SystemError("CreateThread", hr);
  }
}

TimerThread::~TimerThread() {
  stopping_.store(true);
  // Due at once, once: the thread wakes, sees the flag and ends.
  LARGE_INTEGER now{};
  now.QuadPart = -1;
  SetWaitableTimer(timer_, &now, 0, nullptr, nullptr, FALSE);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(timer_);
}

DWORD WINAPI TimerThread::Run(void* self) {
  auto& t = *static_cast<TimerThread*>(self);
  while (WaitForSingleObject(t.timer_, INFINITE) == WAIT_OBJECT_0 && !t.stopping_.load()) {
    t.tick_();
    t.wakeups_.fetch_add(1, std::memory_order_relaxed);
  }
  return 0;
}

}  // namespace wendrix::win32
