// The position watch's thread on Windows: a thread of its own that waits on a periodic waitable
// timer (a high-resolution one where the system has it) and runs one function at each expiry.
// It runs at normal priority: the watch only needs to come a few times per ring, and a late
// sample costs nothing but precision (the recorder notices a watch held up too long).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/capture.h"

namespace wendrix::win32 {

class TimerThread : public PeriodicThread {
 public:
  // Starts at once; the first call comes one period from now. Throws a platform error when the
  // timer or the thread cannot be made.
  TimerThread(std::function<void()> tick, int64_t period_us);
  // Stops the timer, wakes the thread and waits for it: never call this under the loader lock
  // (from DllMain or a static destructor).
  ~TimerThread() override;
  TimerThread(const TimerThread&) = delete;
  TimerThread& operator=(const TimerThread&) = delete;

  // How many times the function ran (for the benchmark).
  uint64_t wakeups() const { return wakeups_.load(std::memory_order_relaxed); }

 private:
  static DWORD WINAPI Run(void* self);

  std::function<void()> tick_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> wakeups_{0};
  HANDLE timer_ = nullptr;
  HANDLE thread_ = nullptr;
};

}  // namespace wendrix::win32
