// The drain: every byte the device recorded since the last transfer goes from the ring buffer
// into the sample block, for the meter, and onto the end of the output file.
#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/device_errors.h"
#include "platform/error.h"
#include "recording/flag_scope.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

static_assert(std::endian::native == std::endian::little,
              "SampleWords is filled byte for byte as little-endian words");

constexpr const char* kReportPrefix = "private update wendrix Error: ";

// A gap gets at most this much silence: filling a machine's sleep or a debugger's pause whole
// would hold the host's thread for seconds and the file for gigabytes.
constexpr int64_t kMaxSilenceSeconds = 10;
// How far a device's lateness may stray below what reads have seen at best.
constexpr int64_t kLatenessJitterMicroseconds = 100000;
// A suspension the platform reports is told once it is this long (shorter ones are the
// platform's clocks disagreeing).
constexpr int64_t kLeastSuspendMicroseconds = 1000000;
// The shortest stand-still of a flowing device's position that counts as a stopped device,
// however short its ring: devices deliver in periods of up to about half a second.
constexpr int64_t kLeastFreezeMicroseconds = 700000;

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

int64_t Control::BytesIn(int64_t microseconds) const {
  return microseconds > 0 ? microseconds * s_.DeviceFormat.nAvgBytesPerSec / 1000000 : 0;
}

int64_t Control::LatenessAt(int64_t time) const {
  return BytesIn(time - s_.CaptureStartTime) - s_.DeliveredBytes;
}

bool Control::DeviceWasFrozen() const {
  return s_.LastReadTime - s_.LastMoveTime > kLeastFreezeMicroseconds;
}

RingReadFacts Control::ReadFacts(int64_t shown, int64_t gap, int64_t now) const {
  RingReadFacts f;
  f.shown = shown;
  f.gap = gap;
  f.ring = s_.BufferDesc.dwBufferBytes;
  f.frame = s_.DeviceFormat.nBlockAlign;
  // Positions move in whole frames and the clock is read a little after them. The capture
  // position is what cannot run ahead of real time; the read position may also catch up on
  // what lay between the two at the last read.
  const int64_t slack = 2 * int64_t{f.frame} + BytesIn(2000) + s_.LastGap;
  const int64_t elapsed = BytesIn(now - s_.LastReadTime);
  if (s_.DeviceFlowing == False) {
    // Before its first bytes the device may have waited up to its start delay.
    f.possible = BytesIn(now - s_.CaptureStartTime) + slack;
    f.likely = f.possible;
    f.certain = std::max<int64_t>(
        BytesIn(now - s_.CaptureStartTime - p_.capture.MaxStartDelayMicroseconds()) - gap - slack,
        0);
    return f;
  }
  // Since Start the device cannot have delivered more than real time (give or take a device
  // clock that runs a little fast).
  const int64_t lateness = LatenessAt(s_.LastReadTime);
  f.possible = elapsed + lateness - s_.LatenessLeast + slack;
  // Beyond what the clock says came since the last read, a read finds what the device held
  // back then: how much later it was than it has lately been at best (a device that delivers
  // in periods is up to a period late). A device that had stood still for longer than any
  // period was frozen: what it missed meanwhile never comes.
  // The positions and the clock also jitter by tens of milliseconds (a sound server's
  // fragments, the capture thread's period), more than a read could tell from the floor.
  const int64_t floor = s_.LatenessFloor.Least();
  const int64_t backlog = DeviceWasFrozen() || floor == WindowMinimum::kNone
                              ? 0
                              : std::max<int64_t>(lateness - floor, 0);
  const int64_t jitter = std::min(BytesIn(kLatenessJitterMicroseconds), f.ring / 4);
  f.likely = elapsed + backlog + jitter + slack;
  f.certain = f.likely;
  return f;
}

std::string Control::AccountLoss(const RingRead& got, int64_t silence_written, int64_t n,
                                 bool report) {
  ++s_.LossCount;
  s_.LostBytes += got.lost;
  s_.SilenceBytes += silence_written;
  if (got.at_least) s_.LossAtLeast = True;
  if (s_.LossCount != 1 || !report) return {};
  s_.LostBytesReported = got.lost;
  const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
  return kReportPrefix + std::string(got.at_least ? "at least " : "") + Seconds(got.lost, rate) +
         " seconds of audio were lost: the recording was not read for longer than its buffer "
         "lasts (the host held up the control's timer), and " +
         s_.OutputFileName + SilenceClause(got.lost, silence_written) +
         ". Bytes in this transfer: " + std::to_string(n);
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

void Control::TakeBlock(uint32_t from, int64_t n) {
  LockedRegion first;
  LockedRegion second;
  s_.RecorderBuffer->Lock(from, static_cast<uint32_t>(n), first, second);
  if (int64_t{first.size} + second.size != n) {
    try {
      s_.RecorderBuffer->Unlock(first, second);
    } catch (const Error&) {
    }
    throw Error(errc::InvalidProcedureCall, "IDirectSoundCaptureBuffer::Lock returned " +
                                                std::to_string(first.size) + "+" +
                                                std::to_string(second.size) + " bytes for ");
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
    std::memcpy(words + 2 * static_cast<size_t>(SecondRegionWord(first.size)), second.data,
                second.size);
  }
  s_.RecorderBuffer->Unlock(first, second);
}

bool Control::RingChangedSinceLastRead(int64_t gap) {
  // The last transfer's bytes ended where the read position stands; compare its newest ones
  // with what the ring holds there now.
  const int64_t ring = s_.BufferDesc.dwBufferBytes;
  const int64_t taken = static_cast<int64_t>(s_.SampleBytes.size()) - 1;
  const int64_t length = std::min<int64_t>({taken, ring - gap, 4096});
  if (length <= 0) return false;
  const auto from = static_cast<uint32_t>((s_.DrainOffset - length + ring) % ring);
  LockedRegion first;
  LockedRegion second;
  s_.RecorderBuffer->Lock(from, static_cast<uint32_t>(length), first, second);
  const uint8_t* kept = s_.SampleBytes.data() + (taken - length);
  const bool changed =
      std::memcmp(kept, first.data, first.size) != 0 ||
      (second.size != 0 && std::memcmp(kept + first.size, second.data, second.size) != 0);
  s_.RecorderBuffer->Unlock(first, second);
  return changed;
}

std::string Control::PlatformNews(int64_t n) {
  // A sleep is left out of the clock, so it costs no silence; the take simply goes on.
  const int64_t suspended = p_.capture.SuspendedMicroseconds();
  if (suspended - s_.SuspendedSeen >= kLeastSuspendMicroseconds) {
    const int64_t slept = suspended - s_.SuspendedSeen;
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
           std::string(
               "the default recording device changed during the "
               "recording; what ") +
           s_.OutputFileName +
           " holds from then on may come from the new device. Bytes in this transfer: " +
           std::to_string(n);
  }
  return {};
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
      if (read_position < 0 || read_position >= ring || device_position < 0 ||
          device_position >= ring) {
        throw Error(errc::InvalidProcedureCall,
                    "IDirectSoundCaptureBuffer::GetCurrentPosition reported " +
                        std::to_string(device_position) + " and " + std::to_string(read_position) +
                        ", outside the ring buffer; ");
      }
      const int64_t shown = RingDistance(s_.DrainOffset, read_position, ring);
      const int64_t gap = RingDistance(read_position, device_position, ring);
      if (s_.DrainOffset + shown > INT32_MAX) throw Error(errc::Overflow);
      s_.ReadCursor = static_cast<int32_t>(s_.DrainOffset + shown);
      RingReadFacts facts = ReadFacts(shown, gap, now);
      // A position that stands where it stood after the clock says a ring or more passed is a
      // stopped device or one exactly whole rings on: the ring's bytes tell which.
      if (shown == 0 && facts.likely >= ring) facts.wrapped = RingChangedSinceLastRead(gap);
      const RingRead got = AccountRingRead(facts);
      n = got.kept;
      const auto tell = [&text](std::string more) {
        if (!more.empty()) text = text.empty() ? std::move(more) : text + "\n\n" + more;
      };

      if (got.delivered == 0 && !got.behind) {
        // A position that stands still for longer than the ring lasts while the ticks come on
        // time is a device that stopped delivering.
        const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
        const int64_t ring_us = ring * 1000000 / rate;
        const int64_t limit = s_.DeviceFlowing != False
                                  ? std::max<int64_t>(ring_us, kLeastFreezeMicroseconds)
                                  : ring_us + p_.capture.MaxStartDelayMicroseconds();
        if (now - s_.LastMoveTime > limit && now - s_.LastReadTime <= ring_us) {
          tell(DeviceGoneReport("the recording device has delivered no sound for " +
                                    Seconds(now - s_.LastMoveTime, 1000000) +
                                    " seconds: it stopped or was removed",
                                0));
        }
      }
      tell(PlatformNews(n));
      if (got.kept > 0) {
        // The newest `kept` bytes end at the read position; anything older was written over.
        TakeBlock(static_cast<uint32_t>((read_position - got.kept + ring) % ring), n);
      }

      // What was written over goes into the file as silence before the bytes that follow it,
      // so that everything after the gap keeps its place in time. A long gap (a machine that
      // slept, a debugger) gets a bounded span, so that no tick writes for long.
      std::string file_text;
      if (got.lost > 0) {
        const int64_t recorded = s_.BytesRecorded;
        const int64_t frame = std::max<int64_t>(s_.FileFormat.nBlockAlign, 1);
        const int64_t most = int64_t{s_.DeviceFormat.nAvgBytesPerSec} * kMaxSilenceSeconds;
        file_text = AppendSilence(std::min(got.lost, most / frame * frame), n);
        tell(AccountLoss(got, s_.BytesRecorded - recorded, n, report));
      }
      if (n > 0 && file_text.empty()) file_text = AppendToFile(s_.SampleBytes.data(), n, n);
      tell(file_text);

      if (got.delivered > 0) {
        // After a freeze the device is later for good, and after a loss the count of whole
        // rings rests on the clock alone: its lateness is measured afresh.
        if (DeviceWasFrozen() || got.lost > 0) s_.LatenessFloor.Reset();
        s_.DeviceFlowing = True;
        s_.LastMoveTime = now;
        s_.DeliveredBytes += got.delivered;
        s_.LatenessFloor.Add(now, LatenessAt(now));
        s_.LatenessLeast = std::min(s_.LatenessLeast, LatenessAt(now));
        s_.DrainOffset = read_position;
      }
      if (!got.behind) s_.LastGap = gap;
      s_.LastReadTime = now;
      s_.ReportedDrainFault.clear();
      SetDrainRetry(false);
    } catch (const Error& e) {
      // The offset stays: the next transfer asks for the same bytes again.
      cause = std::to_string(e.number()) + " " + e.description();
      if (IsDeviceGone(e.hresult())) {
        text = DeviceGoneReport(
            "the recording device stopped or was removed (" + e.description() + ")", n);
      } else {
        text = kReportPrefix + e.description() + std::to_string(n);
      }
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
  ShowReport(text);
}

void Control::ShowReport(const std::string& text) {
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
