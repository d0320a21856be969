// The drain: every byte the device recorded since the last transfer goes from the ring buffer
// into the sample block, for the meter, and onto the end of the output file.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/device_errors.h"
#include "platform/error.h"
#include "platform/stage_clock.h"
#include "recording/drain_limits.h"
#include "recording/flag_scope.h"
#include "recording/position_watch.h"
#include "recording/ring.h"
#include "recording/spill_queue.h"

namespace wendrix {

static_assert(std::endian::native == std::endian::little,
              "SampleWords is filled byte for byte as little-endian words");

using drain::kBacklogBytesPerTransfer;
using drain::kLeastFreezeMicroseconds;
using drain::kLeastSilentStartMicroseconds;
using drain::kReportPrefix;
using drain::Seconds;

void Control::UpdateRecording() {
  // A tick that comes while a transfer runs must not transfer again.
  if (s_.DrainBusy != False) return;
  // Before the ring buffer is started (a host's OnStart handler may let ticks through) and
  // after it was stopped there is nothing of this recording to take.
  if (s_.CaptureRunning == False) return;
  profile::Scope drain(profile::kDrain);
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
    profile::Scope write(profile::kFileWrite);
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

void Control::LockRing(uint32_t from, int64_t n, LockedRegion& first, LockedRegion& second) {
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
}

void Control::TakeBlock(uint32_t from, int64_t n) {
  profile::Scope block(profile::kBlock);
  LockedRegion first;
  LockedRegion second;
  LockRing(from, n, first, second);
  FillBlock(first, second);
  s_.RecorderBuffer->Unlock(first, second);
  // Only the meter reads the words, and only of 16-bit audio: while it is hidden they are made
  // when it reads them, if ever.
  if (s_.MeterVisible != False && s_.DeviceFormat.wBitsPerSample == 16) MakeSampleWords();
}

void Control::FillBlock(const LockedRegion& first, const LockedRegion& second) {
  // The block: the bytes of both regions and a zero, in memory kept from one transfer to the
  // next.
  const size_t n = size_t{first.size} + second.size;
  s_.SampleBytes.resize(n + 1);
  if (first.size != 0) std::memcpy(s_.SampleBytes.data(), first.data, first.size);
  if (second.size != 0) std::memcpy(s_.SampleBytes.data() + first.size, second.data, second.size);
  s_.SampleBytes[n] = 0;
  s_.SampleFirstRegion = first.size;
  s_.MeterDataReady = True;
  s_.SampleWordsDue = True;
}

void Control::MakeSampleWords() {
  if (s_.SampleWordsDue == False || s_.SampleBytes.empty()) return;
  s_.SampleWordsDue = False;
  // The same bytes as 16-bit words with two more words of zeros.
  const size_t n = s_.SampleBytes.size() - 1;
  const size_t count = static_cast<size_t>(SampleWordsUpperBound(static_cast<int64_t>(n))) + 1;
  s_.SampleWords.resize(count);
  auto* words = reinterpret_cast<uint8_t*>(s_.SampleWords.data());
  const uint8_t* bytes = s_.SampleBytes.data();
  const size_t first = std::min<size_t>(s_.SampleFirstRegion, n);
  std::memcpy(words, bytes, first);
  size_t end = first;
  if (first < n) {
    // An odd first region puts the second half a word off: over the first region's last
    // byte (5 bytes: word 2) or after a zero byte (7 bytes: word 4). Only 8-bit mono
    // gives odd regions; the file gets SampleBytes, which has no such seam.
    const size_t at = 2 * static_cast<size_t>(SecondRegionWord(static_cast<uint32_t>(first)));
    if (at > first) std::memset(words + first, 0, at - first);
    std::memcpy(words + at, bytes + first, n - first);
    end = at + (n - first);
  }
  std::memset(words + end, 0, 2 * count - end);
}

void Control::TransferNewBytes(bool report) {
  int64_t n = 0;
  std::string text;   // the report, when there is one
  std::string cause;  // what a failure is about: the same cause is reported once
  std::optional<PositionWatch::Count> unused;  // a count taken whose bytes did not go through
  std::deque<SpillQueue::Block> saved;         // what the watch saved, handed over by Take
  int64_t saved_bytes = 0;
  const Tell tell = [&text](std::string more) {
    if (!more.empty()) text = text.empty() ? std::move(more) : text + "\n\n" + more;
  };
  // A device that refused to be read since the last transfer is what a loss is owed to.
  const bool refused = !s_.ReportedDrainFault.empty() || s_.DrainRetry != False;
  {
    FlagScope busy(s_.DrainBusy, True);
    try {
      if (!s_.RecorderBuffer || !s_.Watch) throw Error(errc::ObjectNotSet);
      int32_t device_position = 0;
      int32_t read_position = 0;
      int64_t now = 0;
      // A tick writes a bounded part of what the watch saved, so that it stays short; the stop
      // writes all that is left, before the header is finished.
      const int64_t most = s_.CaptureRunning == False ? INT64_MAX : kBacklogBytesPerTransfer;
      const PositionWatch::Count got = [&] {
        profile::Scope take(profile::kWatchTake);
        return s_.Watch->Take(device_position, read_position, now, saved, most);
      }();
      unused = got;
      for (const SpillQueue::Block& block : saved) saved_bytes += block.size;
      s_.DeviceCursor = device_position;
      const int64_t ring = s_.BufferDesc.dwBufferBytes;
      s_.ReadCursor =
          static_cast<int32_t>(s_.DrainOffset + RingDistance(s_.DrainOffset, read_position, ring));
      // Only the `ring - gap` bytes before the read position are whole: older ones have been,
      // or are being, written over. Of what the device delivered, the newest that are still
      // whole are taken; the rest was lost.
      const int64_t frame = std::max<int64_t>(s_.DeviceFormat.nBlockAlign, 1);
      const int64_t whole =
          std::max<int64_t>(ring - RingDistance(read_position, device_position, ring), 0) / frame *
          frame;
      const int64_t kept = std::min(got.contiguous, whole);
      const int64_t lost = got.delivered - kept;
      n = kept;
      const bool came = got.delivered > 0 || !saved.empty();

      if (!came) {
        // A position that stands still for longer than the ring lasts while the ticks come on
        // time is a device that stopped delivering.
        const int32_t rate = s_.DeviceFormat.nAvgBytesPerSec;
        const int64_t ring_us = ring * 1000000 / rate;
        const int64_t limit = s_.DeviceFlowing != False
                                  ? std::max<int64_t>(ring_us, kLeastFreezeMicroseconds)
                                  : ring_us + std::max(p_.capture.MaxStartDelayMicroseconds(),
                                                       kLeastSilentStartMicroseconds);
        if (now - s_.LastMoveTime > limit && now - s_.LastReadTime <= ring_us) {
          tell(s_.DeviceFlowing == False
                   ? NoAudioReport(now - s_.LastMoveTime, false, 0)
                   : DeviceGoneReport("the recording device has delivered no sound for " +
                                          Seconds(now - s_.LastMoveTime, 1000000) +
                                          " seconds: it stopped or was removed",
                                      0));
        }
      } else if (s_.DeviceLostReported != False) {
        // A device that came back is named again when it stops again.
        s_.DeviceLostReported = False;
      }
      s_.WatchPaused += got.paused_us;
      tell(PlatformNews(saved_bytes + n));
      if (got.burst_us > 0) tell(BurstReport(got.burst_us, saved_bytes + n));
      // The meter shows the present: the newest bytes (half a ring at most), whether the ring or
      // the spill holds them.
      const int64_t meter_most = ring / 2 / frame * frame;
      if (kept == 0 && got.queued == 0 && !saved.empty()) {
        const SpillQueue::Block& newest = saved.back();
        const int64_t tail = std::min(newest.size, meter_most);
        if (tail > 0) {
          FillBlock(
              LockedRegion{newest.data.get() + newest.size - tail, static_cast<uint32_t>(tail)},
              LockedRegion{});
        }
      }
      // The saved bytes come first, each block after the loss before it; then the loss since
      // them, then what the ring holds.
      WriteSaved(saved, saved_bytes + n, refused, report, tell);
      if (kept > 0) {
        // The newest `kept` bytes end at the read position; anything older was written over.
        TakeBlock(static_cast<uint32_t>((read_position - kept + ring) % ring), n);
        if (report) tell(SilentStartReport(s_.SampleBytes.data(), n));
      } else if (got.queued > 0) {
        // The newest bytes went to the spill, behind what it still holds; the ring still has
        // them for the meter.
        const int64_t shown = std::min({got.queued, whole, meter_most});
        if (shown > 0)
          TakeBlock(static_cast<uint32_t>((read_position - shown + ring) % ring), shown);
      }
      std::string file_text;
      if (lost > 0) {
        file_text =
            WriteLoss(lost, got.at_least, got.reset, refused,
                      got.spill_full ? got.saved_before : -1, saved_bytes + n, report, tell);
      }
      if (n > 0 && file_text.empty()) {
        file_text = AppendToFile(s_.SampleBytes.data(), n, saved_bytes + n);
      }
      tell(file_text);

      if (came) {
        s_.DeviceFlowing = True;
        s_.LastMoveTime = now;
        s_.DrainOffset = read_position;
      }
      unused.reset();
      s_.LastReadTime = now;
      s_.ReportedDrainFault.clear();
      SetDrainRetry(false);
      SetBacklog(got.backlog);
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
    // What the watch saved is this recording's audio whatever the read met afterwards.
    if (!saved.empty()) {
      try {
        WriteSaved(saved, saved_bytes, refused, report, tell);
      } catch (const std::exception&) {
      }
    }
  }
  // The offset stays and the count goes back: the next transfer asks for the same bytes again.
  if (s_.Watch) {
    if (unused) s_.Watch->GiveBack(*unused);
    s_.Watch->Release();
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
  ApplyQuickTicks();
}

void Control::SetBacklog(bool on) {
  if ((s_.DrainBacklog != False) == on) return;
  s_.DrainBacklog = on ? True : False;
  ApplyQuickTicks();
}

void Control::ApplyQuickTicks() {
  if (s_.MeterVisible != False)
    return;  // with the meter shown every tick comes a tenth of a ring apart
  try {
    if (s_.DrainRetry != False || s_.DrainBacklog != False) {
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
