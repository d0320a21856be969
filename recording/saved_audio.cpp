// The drain's side of the spill: the audio the position watch saved goes into the file before
// anything newer, each block after the loss that came before it, and its memory goes as soon
// as it is written.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>

#include "control/control.h"
#include "recording/drain_limits.h"
#include "recording/spill_queue.h"

namespace wendrix {

using drain::kMaxSilenceSeconds;

void Control::WriteSaved(std::deque<SpillQueue::Block>& saved, int64_t n, bool refused, bool report,
                         const Tell& tell) {
  while (!saved.empty()) {
    const SpillQueue::Block& block = saved.front();
    std::string file_text;
    const SpillQueue::Loss& loss = block.before;
    if (loss.bytes > 0) {
      file_text = WriteLoss(loss.bytes, loss.at_least, loss.reset, refused,
                            loss.spill_full ? loss.saved_before : -1, n, report, tell);
    }
    if (file_text.empty() && block.size > 0) {
      file_text = AppendToFile(block.data.get(), block.size, n);
    }
    if (report && block.size > 0) tell(SilentStartReport(block.data.get(), block.size));
    tell(file_text);
    saved.pop_front();
  }
}

std::string Control::WriteLoss(int64_t lost, bool at_least, bool reset, bool refused, int64_t saved,
                               int64_t n, bool report, const Tell& tell) {
  // What was written over goes into the file as silence before the bytes that follow it, so
  // that everything after the gap keeps its place in time. A long gap (a machine that slept,
  // a debugger) gets a bounded span, so that no tick writes for long.
  const int64_t recorded = s_.BytesRecorded;
  const int64_t file_frame = std::max<int64_t>(s_.FileFormat.nBlockAlign, 1);
  const int64_t most = int64_t{s_.DeviceFormat.nAvgBytesPerSec} * kMaxSilenceSeconds;
  std::string file_text = AppendSilence(std::min(lost, most / file_frame * file_frame), n);
  tell(AccountLoss(lost, at_least, reset, refused, saved, s_.BytesRecorded - recorded, n, report));
  return file_text;
}

}  // namespace wendrix
