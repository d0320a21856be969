// A recording whose device delivers nothing but exact digital silence at first: a microphone
// kept from desktop programs by Windows' privacy setting, or a muted or disabled one, records
// that way without any error. It is told once per Init_DSWendrix (an input that is silent on
// purpose is not told again at every start); the recording goes on.
#include <algorithm>
#include <string>

#include "control/control.h"
#include "platform/device_errors.h"
#include "recording/drain_limits.h"

namespace wendrix {

using drain::kReportPrefix;

namespace {

// How much of a recording's start, in seconds, must be silent to be told.
constexpr int64_t kSilentStartSeconds = 3;

}  // namespace

std::string Control::SilentStartReport(const uint8_t* data, int64_t n) {
  if (s_.SilentStartBytes < 0) return {};
  // Silence is 0 in 16-bit samples and 128 in 8-bit ones.
  const uint8_t silent = s_.DeviceFormat.wBitsPerSample == 8 ? 0x80 : 0x00;
  const int64_t judged = kSilentStartSeconds * s_.DeviceFormat.nAvgBytesPerSec;
  const int64_t count = std::min(n, judged - s_.SilentStartBytes);
  if (std::any_of(data, data + count, [silent](uint8_t b) { return b != silent; })) {
    s_.SilentStartBytes = -1;
    return {};
  }
  s_.SilentStartBytes += count;
  if (s_.SilentStartBytes < judged) return {};
  s_.SilentStartBytes = -1;
  if (s_.SilentStartReported != False) return {};
  s_.SilentStartReported = True;
  return kReportPrefix + std::string("the first ") + std::to_string(kSilentStartSeconds) +
         " seconds the recording device delivered to " + s_.OutputFileName +
         " are exact digital silence: the microphone may be muted or disabled (in Windows' "
         "sound settings, or by a switch on the device); " +
         kMicrophonePrivacyHint + ". The recording goes on.";
}

}  // namespace wendrix
