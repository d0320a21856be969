// The machine's suspensions as the system announces them: "suspending" before the machine
// sleeps or enters standby, "resumed" after it woke. A clock that runs on through a standby
// (the performance counter, and on connected-standby machines the unbiased interrupt time too)
// counts that time; no device records meanwhile, so it is a pause, not audio lost.
#pragma once

#include <cstdint>
#include <mutex>

namespace wendrix {

class PowerPauses {
 public:
  // Told from any thread, with times on the one clock PausedBy is asked on. A second
  // "suspending" before "resumed", and a "resumed" without one, change nothing (the system
  // may announce a wake twice, and a watch may begin during a suspension's announcement).
  void Suspending(int64_t at);
  void Resumed(int64_t at);
  // The time between the announcements up to `now`; a suspension not yet over counts up to
  // `now`, so that a clock less this stands still from its "suspending" on.
  int64_t PausedBy(int64_t now) const;

 private:
  mutable std::mutex lock_;
  int64_t total_ = 0;
  int64_t since_ = -1;  // when the suspension under way was announced; -1: none
};

}  // namespace wendrix
