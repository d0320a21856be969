// The position watch of a running recording: made when the buffer starts, its thread stopped
// before the buffer stops or goes.
#include <memory>
#include <utility>

#include "control/control.h"
#include "recording/position_watch.h"

namespace wendrix {

void Control::StartWatch(int32_t device_position, int32_t read_position, int64_t now_us) {
  StopWatch();
  s_.Watch = std::make_unique<PositionWatch>(
      *s_.RecorderBuffer, p_.capture, s_.BufferDesc.dwBufferBytes, s_.DeviceFormat.nBlockAlign,
      s_.DeviceFormat.nAvgBytesPerSec, s_.CaptureStartTime, device_position, read_position, now_us);
  PositionWatch* watch = s_.Watch.get();
  s_.WatchThread =
      p_.capture.StartPeriodic([watch] { watch->Sample(); }, watch->PeriodMicroseconds());
}

void Control::StopWatch() { std::exchange(s_.WatchThread, nullptr).reset(); }

}  // namespace wendrix
