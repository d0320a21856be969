// The recorder: opening and releasing the default recording device, and the start and stop
// of a recording.
//
// States: not initialised (DeviceReady False), ready (DeviceReady True), recording (also
// IsRecording True). A recording always ends through the stop sequence (StopRecording), also
// when the recorder is released or re-created meanwhile, or the control is destroyed, so that
// its file is always finished and no recorded byte is left behind.
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "control/control.h"
#include "platform/device_errors.h"
#include "platform/error.h"
#include "recording/flag_scope.h"
#include "recording/format.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

constexpr uint32_t kBufferDescSize = 20;  // sizeof(DSCBUFFERDESC) as the platform sees it

}  // namespace

Control::~Control() {
  // A control destroyed in the middle of a recording still leaves a finished file. Nothing is
  // shown and no event goes to a host that is letting the control go; nothing may throw.
  if (s_.IsRecording == False) return;
  try {
    p_.timer.SetEnabled(false);
  } catch (...) {
  }
  StopWatch();
  if (s_.CaptureRunning != False && s_.RecorderBuffer) {
    try {
      s_.RecorderBuffer->Stop();
    } catch (...) {
    }
    s_.CaptureRunning = False;
    try {
      TransferNewBytes(false);
    } catch (...) {
    }
  }
  if (s_.FileNeedsFinish != False) {
    try {
      FinishWaveFile();
    } catch (...) {
    }
    s_.FileNeedsFinish = False;
  }
  s_.IsRecording = False;
}

Boolean Control::Init_DSWendrix() {
  // A restored form may hold any format; only the supported ones may reach the device.
  CheckDeviceFormat(s_.SampleRate, s_.ChannelCount, s_.SampleBits, s_.AutoBufferSize != False,
                    s_.BufferBytes);
  const WaveFormat format = DeriveDeviceFormat(s_.SampleRate, s_.ChannelCount, s_.SampleBits);
  CheckTimerServesRing(s_.AutoBufferSize != False ? format.nAvgBytesPerSec : s_.BufferBytes,
                       format);
  // Releasing the recorder first also stops and finishes a running recording.
  if (s_.DeviceReady != False) UnInit_DSWendrix();
  ApplyLayout();
  s_.SilentStartReported = False;
  s_.DeviceFormat = format;
  if (s_.AutoBufferSize != False) s_.BufferBytes = s_.DeviceFormat.nAvgBytesPerSec;
  s_.RecorderDevice = p_.capture.CreateDefaultDevice();
  s_.BufferDesc = CaptureBufferDesc{kBufferDescSize, 0, static_cast<uint32_t>(s_.BufferBytes), 0,
                                    &s_.DeviceFormat};
  SetTickInterval(s_.BufferBytes, s_.DeviceFormat.nAvgBytesPerSec);
  auto buffer = s_.RecorderDevice->CreateCaptureBuffer(s_.BufferDesc);
  // The transfers wrap at the length asked for: a device that made another one would have them
  // take stale or shifted bytes at every wrap.
  const uint32_t made = buffer->RingLength();
  if (made != s_.BufferDesc.dwBufferBytes) {
    throw Error(errc::InvalidPropertyValue,
                "Invalid property value: the recording device made a buffer of " +
                    std::to_string(made) + " bytes for a BufferLength of " +
                    std::to_string(s_.BufferBytes) +
                    " bytes; set BufferLength to a length it "
                    "keeps, such as " +
                    std::to_string(made));
  }
  s_.RecorderBuffer = std::move(buffer);
  s_.ReinitPending = False;
  s_.DeviceReady = True;
  return True;
}

Boolean Control::UnInit_DSWendrix() {
  // A recording cannot go on without its ring buffer: it is stopped and its file finished
  // first (with OnStop), instead of failing on every tick from now on. The recorder is
  // released whatever the stop met; what it met is raised after.
  std::exception_ptr stop_failure;
  if (s_.IsRecording != False) {
    try {
      StopRecording(false);
    } catch (...) {
      stop_failure = std::current_exception();
    }
  }
  // Each member is emptied before the object it held is released, so that re-entry never
  // sees a dying object.
  StopWatch();
  s_.Watch.reset();
  std::exchange(s_.RecorderBuffer, nullptr).reset();
  std::exchange(s_.RecorderDevice, nullptr).reset();
  s_.DeviceReady = False;
  if (stop_failure) std::rethrow_exception(stop_failure);
  return True;
}

void Control::CheckTimerServesRing(int32_t ring_bytes, const WaveFormat& format) const {
  const int32_t rate = format.nAvgBytesPerSec;
  const int64_t tick_us = p_.timer.GranularityMicroseconds();
  const int64_t least = MinimumRingBytes(tick_us, rate, format.nBlockAlign);
  const int64_t most = MaximumRingBytes(rate, format.nBlockAlign);
  if (ring_bytes > most) {
    throw Error(errc::InvalidPropertyValue,
                "Invalid property value: a BufferLength of " + std::to_string(ring_bytes) +
                    " bytes is longer than the control takes at " + std::to_string(rate) +
                    " bytes per second (131 seconds of audio), so BufferLength must be at most " +
                    std::to_string(most) + " bytes");
  }
  if (ring_bytes >= least) return;
  char figures[96];
  std::snprintf(figures, sizeof figures, "%.1f ms; its ticks come at best every %.1f ms",
                static_cast<double>(ring_bytes) * 1000.0 / rate, tick_us / 1000.0);
  throw Error(errc::InvalidPropertyValue,
              "Invalid property value: a BufferLength of " + std::to_string(ring_bytes) +
                  " bytes is too short for the timer that reads it at " + std::to_string(rate) +
                  " bytes per second: the buffer lasts " + figures +
                  ", so BufferLength must be at least " + std::to_string(least) + " bytes");
}

void Control::SetTickInterval(int32_t ring_bytes, int32_t bytes_per_second) {
  const TickIntervals intervals = TickIntervalsFor(ring_bytes, bytes_per_second);
  // The interval follows what the tick handler does: it meters (and drains every fifth tick)
  // whenever ShowVU is not False, so any such value gets the shorter interval.
  const bool meter_shown = s_.MeterVisible != False;
  const int32_t interval = meter_shown ? intervals.meter_shown : intervals.meter_hidden;
  if (interval == 0) {
    // A timer with interval 0 never ticks: such a ring would record nothing at all.
    throw Error(errc::InvalidPropertyValue,
                "Invalid property value: a BufferLength of " + std::to_string(ring_bytes) +
                    " bytes is too short to record at " + std::to_string(bytes_per_second) +
                    " bytes per second (the tick interval would be 0 ms; half the buffer must last "
                    "at least " +
                    (meter_shown ? "3" : "1") + " ms)");
  }
  p_.timer.SetInterval(intervals.meter_hidden);
  if (meter_shown) p_.timer.SetInterval(intervals.meter_shown);
}

void Control::ApplyTickInterval() {
  if (s_.DeviceReady == False) return;
  const auto ring = static_cast<int32_t>(s_.BufferDesc.dwBufferBytes);
  const TickIntervals intervals = TickIntervalsFor(ring, s_.DeviceFormat.nAvgBytesPerSec);
  const int32_t wanted = s_.MeterVisible != False ? intervals.meter_shown : intervals.meter_hidden;
  // Setting the interval restarts the timer's period: a put that leaves it as it is (ShowVU
  // set to its own value, again and again) must not keep the next tick away.
  if (wanted > 0 && p_.timer.Interval() == wanted) return;
  SetTickInterval(ring, s_.DeviceFormat.nAvgBytesPerSec);
}

Boolean Control::Wendrix_Start(const std::string& file_name) {
  s_.MeterDataReady = False;
  s_.TickPhase = 0;
  s_.ReinitPending = False;
  // Any Enabled other than False counts, as it does for BufferLength: a host that hands the
  // setter 1 for True (C's TRUE) still records.
  if (s_.IsEnabled == False || s_.DeviceReady == False || s_.IsRecording != False) return False;

  const uint32_t serial = ++s_.RecordingSerial;
  try {
    // Resolved once: the finish and a rollback name this file even after the host changed
    // its current directory.
    s_.OutputFileName = p_.files.FullPath(file_name);
    s_.IsRecording = True;
    p_.timer.SetEnabled(true);
    s_.BytesRecorded = 0;
    s_.AppendEnded = False;
    s_.ReportedDrainFault.clear();
    s_.DrainRetry = False;
    s_.DrainBacklog = False;
    s_.FileCreated = False;
    p_.container.RaiseEvent(Event::OnStart);
    // The host's handler may have stopped this recording, or stopped it and started another.
    if (s_.RecordingSerial != serial || s_.IsRecording == False) return False;

    // A file that is there stays as it was until the device has started: a start that fails
    // before leaves it untouched.
    OpenWaveFile();
    StartBuffer();
    WriteWaveHeader();
    CreateDataChunk();
    s_.FileNeedsFinish = True;
    s_.LossCount = 0;
    s_.LostBytes = 0;
    s_.SilenceBytes = 0;
    s_.LostBytesReported = 0;
    s_.LossAtLeast = False;
    s_.DeviceLostReported = False;
    s_.BurstReported = False;
    s_.BufferRemade = False;
    s_.WatchPaused = 0;
    s_.DeviceChangeReported = False;
    s_.SilentStartBytes = 0;
    s_.SuspendedSeen = p_.capture.SuspendedMicroseconds();
    s_.DeviceChangesSeen = p_.capture.DefaultDeviceChanges();
    return True;
  } catch (const std::exception& e) {
    const Error* error = dynamic_cast<const Error*>(&e);
    const std::string text = error ? error->description() : std::string(e.what());
    if (s_.RecordingSerial == serial && s_.IsRecording != False && s_.StopInProgress == False) {
      RollBackStart();
    }
    // A container that cannot show the box still gets False, never an error.
    ShowReport(text);
    return False;
  }
}

void Control::RollBackStart() {
  StopWatch();
  if (s_.CaptureRunning != False && s_.RecorderBuffer) {
    try {
      s_.RecorderBuffer->Stop();
    } catch (const Error&) {
    }
  }
  s_.CaptureRunning = False;
  SetDrainRetry(false);
  SetBacklog(false);
  // The file was never a recording: a header whose sizes are 0 is no file to leave behind. A
  // file this start made goes through its own handle, whatever is at its name by now.
  s_.FileNeedsFinish = False;
  DropWaveFile();
  s_.IsRecording = False;
  s_.TickPhase = 0;
  try {
    p_.timer.SetEnabled(false);
  } catch (const Error&) {
  }
}

Boolean Control::Wendrix_Stop() {
  if (s_.IsEnabled == False || s_.IsRecording == False) return False;
  // A stop asked for from inside a stop (an OnStop handler) has nothing left to do.
  if (s_.StopInProgress != False) return False;
  StopRecording(true);
  return True;
}

void Control::StopRecording(bool reinit_if_pending) {
  if (s_.StopInProgress != False) return;
  FlagScope stopping(s_.StopInProgress, True);

  // A device that fails here (one that was unplugged) does not keep the file from being
  // finished or the control from stopping: its failure is raised at the end.
  std::exception_ptr device_failure;
  StopWatch();
  if (s_.CaptureRunning != False) {
    if (s_.RecorderBuffer) {
      try {
        s_.RecorderBuffer->Stop();
      } catch (const Error&) {
        device_failure = std::current_exception();
      }
    }
    s_.CaptureRunning = False;
    // What the device recorded since the last transfer belongs to the recording too; after a
    // failed Stop the raised failure tells what went wrong, without a box.
    if (s_.DrainBusy == False) TransferNewBytes(!device_failure);
    SetDrainRetry(false);
    SetBacklog(false);
  }
  // A file that cannot be finished (its drive pulled, its share gone) does not keep the
  // recording from ending: its failure is raised at the end too.
  std::exception_ptr finish_failure;
  if (s_.FileNeedsFinish != False) {
    try {
      FinishWaveFile();
    } catch (...) {
      finish_failure = std::current_exception();
    }
    s_.FileHandle.reset();
    s_.FileNeedsFinish = False;
    s_.FileCreated = False;
  }
  // Losses after the first report (or one that could not be shown) are told once, in total.
  if (const std::string total = LossTotalReport(); !total.empty() && !device_failure) {
    ShowReport(total);
  }
  // A take into which the device delivered nothing, once it had time to, is no success.
  if (s_.DeviceFlowing == False && !device_failure && s_.ReportedDrainFault.empty() &&
      p_.capture.NowMicroseconds() - s_.CaptureStartTime > p_.capture.MaxStartDelayMicroseconds()) {
    if (const std::string none = NoAudioReport(0, true, 0); !none.empty()) ShowReport(none);
  }
  // OnStop comes while IsRecording is still True and the timer still runs: a handler that
  // starts a new recording from here is refused.
  p_.container.RaiseEvent(Event::OnStop);
  s_.IsRecording = False;
  p_.timer.SetEnabled(false);
  s_.TickPhase = 0;
  ClearLeftMeter();
  ClearRightMeter();
  // A host that released the recorder in its OnStop handler keeps it released.
  if (reinit_if_pending && s_.ReinitPending != False && s_.DeviceReady != False) {
    // A format or meter setting changed during the recording: the recorder takes it now.
    UnInit_DSWendrix();
    Init_DSWendrix();
    s_.ReinitPending = False;
  }
  if (finish_failure) RaiseFinishFailure(finish_failure);
  if (device_failure) RaiseDeviceFailure(device_failure);
}

void Control::RaiseFinishFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    // The number stays the file's; the words say what happened.
    const bool gone = dynamic_cast<const VolumeGone*>(&e) != nullptr;
    if (!gone && e.number() != errc::PathNotFound) throw;
    throw Error(e.number(),
                (gone ? "The drive or network share holding " + s_.OutputFileName + " went away"
                      : s_.OutputFileName +
                            " is no longer there (its drive or network share went away, or it "
                            "was removed)") +
                    ": the recording has stopped, but the file could not be finished (" +
                    e.description() + ")");
  }
}

void Control::RaiseDeviceFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    if (!IsDeviceGone(e.hresult())) throw;
    // The number stays the device's, for hosts that test it; the words say what happened.
    throw Error::Platform(e.hresult(), "The recording device stopped or was removed (" +
                                           e.description() + "); " + s_.OutputFileName +
                                           " was finished with what was recorded before.");
  }
}

}  // namespace wendrix
