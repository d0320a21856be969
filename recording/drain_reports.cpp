// The words of the drain's reports: lost audio (at once and in total), a device that is gone,
// a sleep, a new default device.
#include <algorithm>
#include <string>

#include "control/control.h"
#include "recording/drain_limits.h"
#include "recording/ring.h"

namespace wendrix {

namespace drain {

std::string Seconds(int64_t bytes, int32_t bytes_per_second) {
  const int64_t ms = bytes_per_second > 0 ? bytes * 1000 / bytes_per_second : 0;
  std::string fraction = std::to_string(ms % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(ms / 1000) + "." + fraction;
}

}  // namespace drain

using drain::kLeastSuspendMicroseconds;
using drain::kMaxSilenceSeconds;
using drain::kReportPrefix;
using drain::Seconds;

std::string Control::AccountLoss(int64_t lost, bool at_least, bool reset, bool refused,
                                 int64_t saved, int64_t silence_written, int64_t n, bool report) {
  ++s_.LossCount;
  s_.LostBytes += lost;
  s_.SilenceBytes += silence_written;
  if (at_least) s_.LossAtLeast = True;
  if (s_.LossCount != 1 || !report) return {};
  s_.LostBytesReported = lost;
  const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
  std::string why = reset     ? ": the recording device started its positions over (its driver "
                                "reset it) before they were read, and "
                    : refused ? ": the recording device refused to be read (its calls failed) "
                                "for longer than its buffer lasts, and "
                              : ": the recording was not read for longer than its buffer lasts "
                                "(the host held up the control's timer), and ";
  if (!reset && !refused && saved > 0) {
    why =
        ": the host held up the control's timer for longer than the control can save (it "
        "saved the first " +
        Seconds(saved, rate) + " seconds in memory), and ";
  } else if (!reset && !refused && saved == 0) {
    why =
        ": the host held up the control's timer for longer than its buffer lasts and there "
        "was no memory left to save the audio, and ";
  }
  return kReportPrefix + std::string(at_least ? "at least " : "") + Seconds(lost, rate) +
         " seconds of audio were lost" + why + s_.OutputFileName +
         SilenceClause(lost, silence_written) + ". Bytes in this transfer: " + std::to_string(n);
}

std::string Control::SilenceClause(int64_t lost, int64_t silence) const {
  const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
  if (silence == lost) return " holds silence in their place";
  if (silence == 0) return " takes no more audio, so they are not in it";
  return " holds " + Seconds(silence, rate) + " seconds of silence for them" +
         (s_.AppendEnded != False ? " and takes no more audio"
                                  : " (a gap is filled with at most " +
                                        std::to_string(kMaxSilenceSeconds) + " seconds)");
}

std::string Control::LossTotalReport() {
  if (s_.LostBytes <= s_.LostBytesReported) return {};
  s_.LostBytesReported = s_.LostBytes;
  const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
  const std::string times = s_.LossCount == 1 ? "once" : std::to_string(s_.LossCount) + " times";
  return std::string(kReportPrefix) + "audio was lost " + times + " in this recording, " +
         (s_.LossAtLeast != False ? "at least " : "") + Seconds(s_.LostBytes, rate) +
         " seconds in all; " + s_.OutputFileName + SilenceClause(s_.LostBytes, s_.SilenceBytes) +
         ".";
}

std::string Control::DeviceGoneReport(const std::string& why, int64_t n) {
  if (s_.DeviceLostReported != False) return {};
  s_.DeviceLostReported = True;
  return std::string(kReportPrefix) + why + "; " + s_.OutputFileName +
         " keeps what was recorded before. Bytes in this transfer: " + std::to_string(n);
}

std::string Control::BurstReport(int64_t burst_us, int64_t n) {
  if (s_.BurstReported != False) return {};
  s_.BurstReported = True;
  const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
  const int64_t frame = std::max<int64_t>(s_.DeviceFormat.nBlockAlign, 1);
  // The drain reads every half ring: a ring twice as long as a burst always has room for it.
  const int64_t burst = (burst_us * rate + 999999) / 1000000;
  const int64_t fits = (2 * burst + frame - 1) / frame * frame;
  return kReportPrefix +
         std::string("the recording device delivers its audio in bursts of up to ") +
         Seconds(burst_us, 1000000) + " seconds, longer than the buffer of " +
         Seconds(s_.BufferDesc.dwBufferBytes, rate) +
         " seconds: what a burst brings beyond the buffer is written over before it can be read, "
         "and " +
         s_.OutputFileName + " may miss it without a count. Set BufferLength to " +
         std::to_string(fits) +
         " bytes or more so that its bursts fit. Bytes in this transfer: " + std::to_string(n);
}

std::string Control::NoAudioReport(int64_t silent_us, bool at_stop, int64_t n) {
  if (s_.DeviceLostReported != False) return {};
  s_.DeviceLostReported = True;
  if (at_stop) {
    return kReportPrefix +
           std::string(
               "the recording device delivered no audio during this "
               "recording: ") +
           s_.OutputFileName + " holds none.";
  }
  return kReportPrefix + std::string("the recording device has delivered no audio in the ") +
         Seconds(silent_us, 1000000) +
         " seconds since the recording started (it may be disabled, in use by another program, "
         "or its driver may have failed); " +
         s_.OutputFileName + " holds none so far. Bytes in this transfer: " + std::to_string(n);
}

std::string Control::PlatformNews(int64_t n) {
  // A sleep is left out of the clock, so it costs no silence; the take simply goes on. One
  // the system did not announce is the position watch's pause.
  const int64_t suspended = p_.capture.SuspendedMicroseconds() + s_.WatchPaused;
  if (const int64_t slept = suspended - s_.SuspendedSeen; slept >= kLeastSuspendMicroseconds) {
    s_.SuspendedSeen = suspended;
    return kReportPrefix + std::string("the computer was asleep for ") + Seconds(slept, 1000000) +
           " seconds during the recording; " + s_.OutputFileName +
           " goes on after the pause without that time. Bytes in this transfer: " +
           std::to_string(n);
  }
  if (s_.DeviceChangeReported == False &&
      p_.capture.DefaultDeviceChanges() != s_.DeviceChangesSeen) {
    s_.DeviceChangeReported = True;
    return kReportPrefix +
           std::string("the default recording device changed during the recording; what ") +
           s_.OutputFileName +
           " holds from then on may come from the new device. Bytes in this transfer: " +
           std::to_string(n);
  }
  return {};
}

}  // namespace wendrix
