// The drain: every byte the device recorded since the last transfer goes from the ring buffer
// into the sample block, for the meter, and onto the end of the output file.
#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <string>

#include "control/control.h"
#include "platform/error.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

static_assert(std::endian::native == std::endian::little,
              "SampleWords is filled byte for byte as little-endian words");

constexpr const char* kReportPrefix = "private update wendrix Error: ";

// Puts the drain's two flags back as they were when it began, however it ends.
class DrainScope {
 public:
  explicit DrainScope(ControlState& s) : s_(s), busy_(s.DrainBusy), reporting_(s.DrainReporting) {
    s_.DrainBusy = True;
  }
  ~DrainScope() {
    s_.DrainBusy = busy_;
    s_.DrainReporting = reporting_;
  }
  DrainScope(const DrainScope&) = delete;
  DrainScope& operator=(const DrainScope&) = delete;

 private:
  ControlState& s_;
  Boolean busy_;
  Boolean reporting_;
};

}  // namespace

void Control::UpdateRecording() {
  // A tick that comes while a drain's report is open must not drain again.
  if (s_.DrainBusy != False) return;
  // Before the ring buffer is started (a host's OnStart handler may let ticks through) and
  // after it was stopped there is nothing of this recording to take.
  if (s_.CaptureRunning == False) return;
  TransferNewBytes(true);
}

void Control::TransferNewBytes(bool report) {
  DrainScope scope(s_);
  int64_t n = 0;
  std::string text;   // the report, when there is one
  std::string cause;  // what it is about: the same cause is reported once
  try {
    if (!s_.RecorderBuffer) throw Error(errc::ObjectNotSet);
    int32_t device_position = 0;
    int32_t read_position = 0;
    s_.RecorderBuffer->GetCurrentPosition(device_position, read_position);
    s_.DeviceCursor = device_position;
    s_.ReadCursor = read_position;

    // The ring length is the one the buffer was created with, not today's BufferLength.
    const int64_t ring = s_.BufferDesc.dwBufferBytes;
    const int64_t read = s_.DrainOffset + RingDistance(s_.DrainOffset, read_position, ring);
    if (read > INT32_MAX) throw Error(errc::Overflow);
    s_.ReadCursor = static_cast<int32_t>(read);
    n = read - s_.DrainOffset;
    if (n == 0) return;  // nothing new; the sample block stays as it is

    LockedRegion first;
    LockedRegion second;
    s_.RecorderBuffer->Lock(static_cast<uint32_t>(s_.DrainOffset), static_cast<uint32_t>(n), first,
                            second);
    if (int64_t{first.size} + second.size != n) {
      try {
        s_.RecorderBuffer->Unlock(first, second);
      } catch (const Error&) {
      }
      throw Error(errc::InvalidProcedureCall, "IDirectSoundCaptureBuffer::Lock returned " +
                                                  std::to_string(first.size) + "+" +
                                                  std::to_string(second.size) + " bytes for ");
    }

    // The block is made anew: n bytes and a zero, and the same bytes as 16-bit words with two
    // more words of zeros.
    s_.SampleBytes.assign(static_cast<size_t>(n) + 1, 0);
    s_.SampleWords.assign(static_cast<size_t>(SampleWordsUpperBound(n)) + 1, 0);
    s_.MeterDataReady = True;
    auto* words = reinterpret_cast<uint8_t*>(s_.SampleWords.data());
    std::memcpy(s_.SampleBytes.data(), first.data, first.size);
    std::memcpy(words, first.data, first.size);
    if (second.size != 0) {
      std::memcpy(s_.SampleBytes.data() + first.size, second.data, second.size);
      // An odd first region puts the second half a word off: over the first region's last
      // byte (5 bytes: word 2) or after a zero byte (7 bytes: word 4). Only 8-bit mono
      // gives odd regions; the file gets SampleBytes, which has no such seam.
      std::memcpy(words + 2 * static_cast<size_t>(SecondRegionWord(first.size)), second.data,
                  second.size);
    }
    s_.RecorderBuffer->Unlock(first, second);

    // The header's sizes count only what reached the file, and never more than a RIFF size
    // can describe.
    if (s_.AppendEnded == False && s_.FileHandle) {
      const int64_t take = BytesThatFit(s_.BytesRecorded, n, s_.FileFormat.nBlockAlign);
      int32_t written = 0;
      if (take > 0) {
        written = s_.FileHandle->Write(s_.SampleBytes.data(), static_cast<int32_t>(take));
        s_.LastFileResult = Variant::Long(written);
      }
      written = static_cast<int32_t>(std::clamp<int64_t>(written, 0, take));
      s_.BytesRecorded += written;
      if (written != take) {
        s_.AppendEnded = True;
        text = kReportPrefix +
               ("Cannot write to " + s_.OutputFileName + " (is the disk full?); it keeps the " +
                std::to_string(s_.BytesRecorded) +
                " bytes written so far and this recording writes no more to it. "
                "Bytes in this transfer: ") +
               std::to_string(n);
      } else if (take < n) {
        s_.AppendEnded = True;
        text = kReportPrefix +
               (s_.OutputFileName + " holds " + std::to_string(s_.BytesRecorded) +
                " bytes of audio, the most a WAVE file can hold; this recording "
                "writes no more to it. Bytes in this transfer: ") +
               std::to_string(n);
      }
    }
    s_.DrainOffset = static_cast<int32_t>(AdvanceRingOffset(s_.DrainOffset, n, ring));
    s_.ReportedDrainFault.clear();
    SetDrainRetry(false);
  } catch (const Error& e) {
    // The offset stays: the next transfer asks for the same bytes again.
    cause = std::to_string(e.number()) + " " + e.description();
    text = kReportPrefix + e.description() + std::to_string(n);
  } catch (const std::exception& e) {
    cause = e.what();
    text = kReportPrefix + std::string(e.what()) + std::to_string(n);
  }
  if (!cause.empty() && s_.CaptureRunning != False) SetDrainRetry(true);

  if (text.empty() || !report) return;
  if (!cause.empty()) {
    // A failure that lasts (a lost device, a refused lock) is reported once, not every tick.
    if (cause == s_.ReportedDrainFault) return;
    s_.ReportedDrainFault = cause;
  }
  // The report comes last: while it is open the host may deliver ticks (kept out by
  // DrainBusy) or stop the recording, and nothing here runs after it.
  s_.DrainReporting = True;
  try {
    p_.container.MessageBox(text);
  } catch (const Error&) {
    // A container that cannot show the box leaves nothing else to tell.
  }
}

}  // namespace wendrix

namespace wendrix {

void Control::SetDrainRetry(bool on) {
  if ((s_.DrainRetry != False) == on) return;
  s_.DrainRetry = on ? True : False;
  if (s_.MeterVisible != False)
    return;  // with the meter shown every tick comes a tenth of a ring apart
  try {
    if (on) {
      const TickIntervals intervals = TickIntervalsFor(
          static_cast<int32_t>(s_.BufferDesc.dwBufferBytes), s_.DeviceFormat.nAvgBytesPerSec);
      if (intervals.meter_shown > 0) p_.timer.SetInterval(intervals.meter_shown);
    } else {
      ApplyTickInterval();
    }
  } catch (const Error&) {
    // The interval stays as it was; the retry still comes with the next tick.
  }
}

}  // namespace wendrix
