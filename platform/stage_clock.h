// Counters of where the control's time goes: the wall-clock time of each stage of the tick
// path, for profiling a build as it ships. Off unless the environment variable WENDRIX_PROFILE
// names a file when the first stage is timed; off, a stage costs one test of a flag. On, every
// stage's samples are kept and written to that file (appended, one table per control) by
// WriteStageTable: count, median, 99th percentile and total per stage.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wendrix::profile {

// The stages; a stage may run inside another (Tick holds Drain, Drain holds Block, ...).
enum Stage : int {
  kTick,          // a tick of Timer1, as the container delivers it, with the notices after it
  kDrain,         // the transfer from the ring into the file
  kWatchTake,     // taking the position watch's count
  kBlock,         // lock, copy into the sample block, unlock
  kFileWrite,     // appending the block to the file
  kHeader,        // keeping the header's sizes current
  kMeterMeasure,  // peaks and levels of one slice
  kMeterPaint,    // the LED banks of one slice, with the face's notices of what changed
  kMeterEvents,   // raising the level events (the host's handlers run inside)
  kFaceNotice,    // the face's notices after a tick: window invalidation, view and data advise
  kWindowPaint,   // the control's window painting itself (WM_PAINT)
  kStageCount
};

namespace detail {
// 1 on, 0 off, -1 not yet decided.
extern int g_state;
bool Decide();
void Record(Stage stage, int64_t nanoseconds);
}  // namespace detail

inline bool On() { return detail::g_state > 0 || (detail::g_state < 0 && detail::Decide()); }

// Times its own lifetime as one sample of `stage`.
class Scope {
 public:
  explicit Scope(Stage stage) : stage_(stage), on_(On()) {
    if (on_) start_ = std::chrono::steady_clock::now();
  }
  ~Scope() {
    if (on_)
      detail::Record(stage_, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now() - start_)
                                 .count());
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  Stage stage_;
  bool on_;
  std::chrono::steady_clock::time_point start_;
};

// Appends the table of the samples so far to the profile file and starts anew; nothing when off.
void WriteStageTable();

// Switches the counters on, writing to `file`, or off with ""; without a call the environment
// decides.
void SetProfileFile(const std::string& file);

}  // namespace wendrix::profile
