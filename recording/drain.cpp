// The drain: every byte the device recorded since the last transfer goes from the ring buffer
// into the sample block, for the meter, and onto the end of the output file.
#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/error.h"
#include "recording/flag_scope.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

static_assert(std::endian::native == std::endian::little,
              "SampleWords is filled byte for byte as little-endian words");

constexpr const char* kReportPrefix = "private update wendrix Error: ";

// "3.000": seconds with three decimals, whatever the host's locale.
std::string Seconds(int64_t bytes, int32_t bytes_per_second) {
  const int64_t ms = bytes_per_second > 0 ? bytes * 1000 / bytes_per_second : 0;
  std::string fraction = std::to_string(ms % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(ms / 1000) + "." + fraction;
}

}  // namespace

void Control::UpdateRecording() {
  // A tick that comes while a transfer runs must not transfer again.
  if (s_.DrainBusy != False) return;
  // Before the ring buffer is started (a host's OnStart handler may let ticks through) and
  // after it was stopped there is nothing of this recording to take.
  if (s_.CaptureRunning == False) return;
  TransferNewBytes(true);
}

bool Control::DrainOverdue() {
  if (s_.CaptureRunning == False) return false;
  const int64_t period =
      DrainPeriodMicroseconds(s_.BufferDesc.dwBufferBytes, s_.DeviceFormat.nAvgBytesPerSec);
  return p_.capture.NowMicroseconds() - s_.LastReadTime >= period;
}

std::string Control::AppendToFile(const uint8_t* data, int64_t count, int64_t transfer_bytes) {
  // The header's sizes count only what reached the file, and never more than a RIFF size can
  // describe.
  if (s_.AppendEnded != False || !s_.FileHandle) return {};
  const int64_t take = BytesThatFit(s_.BytesRecorded, count, s_.FileFormat.nBlockAlign);
  int32_t written = 0;
  if (take > 0) {
    written = s_.FileHandle->Write(data, static_cast<int32_t>(take));
    s_.LastFileResult = Variant::Long(written);
  }
  written = static_cast<int32_t>(std::clamp<int64_t>(written, 0, take));
  s_.BytesRecorded += written;
  if (written != take) {
    s_.AppendEnded = True;
    return kReportPrefix +
           ("Cannot write to " + s_.OutputFileName + " (is the disk full?); it keeps the " +
            std::to_string(s_.BytesRecorded) +
            " bytes written so far and this recording writes no more to it. "
            "Bytes in this transfer: ") +
           std::to_string(transfer_bytes);
  }
  if (take < count) {
    s_.AppendEnded = True;
    return kReportPrefix +
           (s_.OutputFileName + " holds " + std::to_string(s_.BytesRecorded) +
            " bytes of audio, the most a WAVE file can hold; this recording "
            "writes no more to it. Bytes in this transfer: ") +
           std::to_string(transfer_bytes);
  }
  return {};
}

std::string Control::AppendSilence(int64_t count, int64_t transfer_bytes) {
  // Silence is 0 in 16-bit samples and 128 in 8-bit ones.
  const std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 65536)),
                                   s_.FileFormat.wBitsPerSample == 8 ? 0x80 : 0x00);
  std::string text;
  for (int64_t left = count; left > 0 && text.empty() && s_.AppendEnded == False;) {
    const int64_t part = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    text = AppendToFile(chunk.data(), part, transfer_bytes);
    left -= part;
  }
  return text;
}

void Control::TransferNewBytes(bool report) {
  int64_t n = 0;
  std::string text;   // the report, when there is one
  std::string cause;  // what a failure is about: the same cause is reported once
  {
    FlagScope busy(s_.DrainBusy, True);
    try {
      if (!s_.RecorderBuffer) throw Error(errc::ObjectNotSet);
      int32_t device_position = 0;
      int32_t read_position = 0;
      s_.RecorderBuffer->GetCurrentPosition(device_position, read_position);
      const int64_t now = p_.capture.NowMicroseconds();
      s_.DeviceCursor = device_position;
      s_.ReadCursor = read_position;

      // The ring length is the one the buffer was created with, not today's BufferLength.
      const int64_t ring = s_.BufferDesc.dwBufferBytes;
      const int64_t read = s_.DrainOffset + RingDistance(s_.DrainOffset, read_position, ring);
      if (read > INT32_MAX) throw Error(errc::Overflow);
      s_.ReadCursor = static_cast<int32_t>(read);
      n = read - s_.DrainOffset;
      // Positions repeat every ring: when the host held the ticks up for longer than the ring
      // lasts, the clock tells how many whole rings the device wrote over unread. LastReadTime
      // is when the device stood at DrainOffset. A new capture stream may take most of a
      // second to deliver its first bytes, so until it has, that time is taken from its
      // first move, counted back, and not from the start.
      const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
      if (s_.DeviceFlowing == False && n > 0) {
        s_.DeviceFlowing = True;
        s_.LastReadTime = now - n * 1000000 / rate;
      }
      const int64_t lost =
          s_.DeviceFlowing != False ? LostRings(now - s_.LastReadTime, rate, n, ring) : 0;

      if (n > 0) {
        LockedRegion first;
        LockedRegion second;
        s_.RecorderBuffer->Lock(static_cast<uint32_t>(s_.DrainOffset), static_cast<uint32_t>(n),
                                first, second);
        if (int64_t{first.size} + second.size != n) {
          try {
            s_.RecorderBuffer->Unlock(first, second);
          } catch (const Error&) {
          }
          throw Error(errc::InvalidProcedureCall, "IDirectSoundCaptureBuffer::Lock returned " +
                                                      std::to_string(first.size) + "+" +
                                                      std::to_string(second.size) +
                                                      " bytes for ");
        }

        // The block is made anew: n bytes and a zero, and the same bytes as 16-bit words with
        // two more words of zeros.
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
          std::memcpy(words + 2 * static_cast<size_t>(SecondRegionWord(first.size)),
                      second.data, second.size);
        }
        s_.RecorderBuffer->Unlock(first, second);
      }

      // The lost rings go into the file as silence before the bytes that follow them, so
      // that everything after the gap keeps its place in time.
      if (lost > 0) text = AppendSilence(lost * ring, n);
      if (n > 0 && text.empty()) text = AppendToFile(s_.SampleBytes.data(), n, n);
      if (lost > 0 && text.empty() && s_.LossReported == False) {
        s_.LossReported = True;
        text = kReportPrefix + Seconds(lost * ring, rate) +
               " seconds of audio were lost: the recording was not read for longer than its "
               "buffer lasts (the host held up the control's timer), and " +
               s_.OutputFileName + " holds silence in their place. Bytes in this transfer: " +
               std::to_string(n);
      }
      s_.DrainOffset = static_cast<int32_t>(AdvanceRingOffset(s_.DrainOffset, n, ring));
      s_.LastReadTime = now;
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
  }
  if (!cause.empty() && s_.CaptureRunning != False) SetDrainRetry(true);

  if (text.empty() || !report) return;
  if (!cause.empty()) {
    // A failure that lasts (a lost device, a refused lock) is reported once, not every tick.
    if (cause == s_.ReportedDrainFault) return;
    s_.ReportedDrainFault = cause;
  }
  // The report comes last, with the transfer over: while it is open the host may deliver
  // ticks, whose transfers go on, or stop the recording; nothing here runs after it.
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
