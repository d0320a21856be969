// Hears the system announce a suspension (sleep, hibernation, standby) and the wake after it,
// and tells the process's PowerPauses, timed on the clock given. Neither clock the recorder
// reads is sure to leave a connected standby out, so the announcements are heard directly:
// through PowerRegisterSuspendResumeNotification (Windows 8 and later), else through
// WM_POWERBROADCAST on a hidden top-level window of the creating thread (a message-only window
// is not sent it), whose message loop the thread must run.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>

#include "platform/power_pauses.h"

namespace wendrix::win32 {

class PowerWatch {
 public:
  // `clock` gives the time the announcements are stamped with; every watch of the process must
  // pass the same one. Where neither way is open, nothing is heard.
  explicit PowerWatch(int64_t (*clock)());
  ~PowerWatch();
  PowerWatch(const PowerWatch&) = delete;
  PowerWatch& operator=(const PowerWatch&) = delete;

  // The suspensions announced to any watch of the process. Never destroyed: a notification in
  // flight on the system's thread as a watch ends still finds it.
  static PowerPauses& Pauses();

 private:
  void* notify_ = nullptr;  // HPOWERNOTIFY
  HWND window_ = nullptr;
};

}  // namespace wendrix::win32
