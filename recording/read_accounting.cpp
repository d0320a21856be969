// A run of the recording's ring buffer: started, counted from the positions read straight
// after by the position watch (whose thread is stopped before the buffer stops or goes), and
// made anew once when it never starts.
#include <memory>
#include <string>
#include <utility>

#include "control/control.h"
#include "platform/error.h"
#include "recording/drain_limits.h"
#include "recording/position_watch.h"

namespace wendrix {

void Control::StartWatch(int32_t device_position, int32_t read_position,
                         const CaptureSystem::ClockReading& at) {
  StopWatch();
  s_.Watch = std::make_unique<PositionWatch>(
      *s_.RecorderBuffer, p_.capture, s_.BufferDesc.dwBufferBytes, s_.DeviceFormat.nBlockAlign,
      s_.DeviceFormat.nAvgBytesPerSec, s_.CaptureStartTime, device_position, read_position, at);
  PositionWatch* watch = s_.Watch.get();
  s_.WatchThread =
      p_.capture.StartPeriodic([watch] { watch->Sample(); }, watch->PeriodMicroseconds());
}

void Control::StopWatch() { std::exchange(s_.WatchThread, nullptr).reset(); }

void Control::StartBuffer() {
  // The device cannot deliver anything recorded before this moment.
  s_.CaptureStartTime = p_.capture.NowMicroseconds();
  s_.RecorderBuffer->Start(kCaptureStartLooping);
  s_.CaptureRunning = True;
  // The recording reads from where this run of the buffer begins, read before any file work
  // (a header on a slow medium takes its time): a buffer started again, or created anew with
  // another length, need not report the positions where the last recording's transfers ended.
  int32_t device_position = 0;
  int32_t read_position = 0;
  s_.RecorderBuffer->GetCurrentPosition(device_position, read_position);
  if (read_position < 0 || static_cast<uint32_t>(read_position) >= s_.BufferDesc.dwBufferBytes) {
    throw Error(errc::InvalidProcedureCall,
                "IDirectSoundCaptureBuffer::GetCurrentPosition reported " +
                    std::to_string(read_position) + ", outside the ring buffer");
  }
  s_.DeviceCursor = device_position;
  s_.ReadCursor = read_position;
  s_.DrainOffset = read_position;
  const CaptureSystem::ClockReading at = p_.capture.ReadClock();
  s_.LastReadTime = at.now_us;
  s_.LastMoveTime = s_.LastReadTime;
  s_.DeviceFlowing = False;
  StartWatch(device_position, read_position, at);
}

void Control::RemakeBufferThatNeverStarted() {
  // A buffer whose device thread ended before it began (Wine's capture has such a start-up
  // race) succeeds in every call and never moves: made anew, it records.
  if (s_.CaptureRunning == False || s_.DeviceFlowing != False || s_.BufferRemade != False ||
      !s_.Watch || !s_.RecorderDevice || s_.DrainBusy != False) {
    return;
  }
  if (p_.capture.NowMicroseconds() - s_.CaptureStartTime <=
      p_.capture.MaxStartDelayMicroseconds()) {
    return;
  }
  if (!s_.Watch->Unmoved()) return;
  s_.BufferRemade = True;
  StopWatch();
  s_.Watch.reset();
  s_.CaptureRunning = False;
  try {
    s_.RecorderBuffer->Stop();
  } catch (const Error&) {
  }
  // One capture buffer per device at a time: the old one goes first.
  std::exchange(s_.RecorderBuffer, nullptr).reset();
  try {
    auto buffer = s_.RecorderDevice->CreateCaptureBuffer(s_.BufferDesc);
    if (buffer->RingLength() != s_.BufferDesc.dwBufferBytes) {
      throw Error(errc::InvalidPropertyValue,
                  "the device made a buffer of " + std::to_string(buffer->RingLength()) + " bytes");
    }
    s_.RecorderBuffer = std::move(buffer);
    StartBuffer();
  } catch (const std::exception& e) {
    StopWatch();
    s_.Watch.reset();
    s_.CaptureRunning = False;
    // The recorder is made anew once this recording stops.
    s_.ReinitPending = True;
    s_.DeviceLostReported = True;
    const Error* error = dynamic_cast<const Error*>(&e);
    ShowReport(drain::kReportPrefix +
               std::string("the recording device never began to deliver, and its buffer could "
                           "not be made anew (") +
               (error ? error->description() : std::string(e.what())) + "); " + s_.OutputFileName +
               " holds no audio.");
  }
}

}  // namespace wendrix
