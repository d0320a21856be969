// A simulated recording device for tests: a capture system whose ring buffers are filled from
// a chosen signal on a virtual clock that the test advances, so that every byte the device
// produces is known and time is exact.
//
// Time. Nothing happens until the test calls Advance: then every running buffer writes the
// frames that are due at the new time, at the format's byte rate, in whole frames (in whole
// periods of `period_frames` frames), counted from the buffer's Start so that no rounding
// drifts.
//
// Habits of real devices. `period_frames` makes the device deliver in whole periods (10 to
// 600 ms are seen), the read position lags the device position by `read_lag_frames` (the
// capture-read gap), `start_delay_us` keeps a started buffer silent before its first frame,
// and Freeze/Resume stop and restart delivery (what would have come meanwhile never exists,
// as with a driver that drops it); a freeze that ends in errors is a Freeze with FailAlways.
//
// Positions. A running buffer's device position is where its next frame goes; its read
// position lags it by `read_lag_frames` frames (never further back than the position at which
// it was started), like hardware that completes its data a little behind the write head.
// Stopping a buffer completes what it wrote: afterwards both positions are equal.
//   - Across Stop and Start: with `restart_positions_on_start` false (the default) the
//     positions continue from where the buffer stopped; with it true, Start puts both at 0.
//   - A new buffer: with `new_buffer_continues` false (the default) it starts at 0; with it
//     true it starts where the device position of the last buffer created was (modulo the new
//     ring, in whole frames), as if the positions ran on from one buffer to the next.
// The ring keeps its old content across Stop and Start, so a reader that takes stale bytes
// is caught.
//
// The watch. StartPeriodic runs its function on the virtual clock: Advance stops at every
// moment it is due and calls it there, on the test's thread (`watch_held` skips those calls,
// as for a starved machine). A buffer's WatchPosition is neither logged nor counted as a read.
//
// The truth. `recorded()` holds every byte that the buffer started last wrote into its ring
// since that Start, in order: what a recording between that Start and the following Stop
// must put into its file.
//
// The signal runs on from one buffer and one Start to the next (a frame counter of the
// system), so a byte taken twice or from an earlier run never matches the right one.
//
// Faults. FailNext/FailAlways make a call fail with a given error; the failing call is logged
// with a "!" prefix and changes nothing. Every call is logged in `calls`, in order:
//   "CreateDevice", "CreateBuffer 176400", "Start 1", "Stop", "GetCurrentPosition 400 392",
//   "Lock 150000 46400 = 26400+20000", "Unlock 26400+20000".
//
// The system must outlive the devices and buffers it creates. Everything runs on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture.h"
#include "platform/device_errors.h"
#include "platform/error.h"
#include "platform/power_pauses.h"
#include "platform/sim/fault_list.h"

namespace wendrix::sim {

// DirectSound's failure codes, for the errors tests inject and the sim gives.
inline constexpr uint32_t kDsErrGeneric = 0x80004005u;       // DSERR_GENERIC
inline constexpr uint32_t kDsErrInvalidParam = 0x80070057u;  // DSERR_INVALIDPARAM
inline constexpr uint32_t kDsErrBadFormat = 0x88780064u;     // DSERR_BADFORMAT
using wendrix::kAudclntDeviceInvalidated;
using wendrix::kDsErrBufferLost;
using wendrix::kDsErrNoDriver;

// The calls a fault can be injected into.
enum class CaptureCall { CreateDevice, CreateBuffer, Start, Stop, Position, Lock, Unlock };

// One channel's tone: frequency in Hz and peak amplitude as a fraction of full scale (1.0 is
// 32767 for 16 bits, 127 around the centre 128 for 8 bits).
struct Tone {
  double frequency_hz = 0;
  double amplitude = 0;
};

// Where the device's samples come from. Samples are in the format's own encoding: signed
// 16-bit values for 16 bits, unsigned 0 .. 255 centred on 128 for 8 bits.
class Signal {
 public:
  // Every sample at rest: 0 for 16 bits, 128 for 8 bits.
  static Signal Silence();
  // A sine per channel; channel c uses tones[c], or the last tone when there are fewer.
  static Signal Sines(std::vector<Tone> tones);
  // The given samples, interleaved by channel (left, right, left, ...), repeated when used up.
  static Signal Samples(std::vector<int32_t> interleaved);
  // Pseudo-random samples over the whole range, different for every frame and channel.
  static Signal Noise(uint64_t seed);

  // Sample `channel` of the frame with number `frame` since the system was created.
  int32_t Sample(uint64_t frame, int channel, const WaveFormat& format) const;

 private:
  enum class Kind { Silence, Sines, Samples, Noise };
  Kind kind_ = Kind::Silence;
  std::vector<Tone> tones_;
  std::vector<int32_t> samples_;
  uint64_t seed_ = 0;
};

class SimCaptureSystem;

class SimCaptureBuffer : public CaptureBuffer {
 public:
  SimCaptureBuffer(SimCaptureSystem& system, const CaptureBufferDesc& desc, uint32_t position);
  ~SimCaptureBuffer() override;

  void Start(uint32_t flags) override;
  void Stop() override;
  void GetCurrentPosition(int32_t& device_position, int32_t& read_position) override;
  void Lock(uint32_t offset, uint32_t bytes, LockedRegion& first, LockedRegion& second) override;
  void Unlock(const LockedRegion& first, const LockedRegion& second) override;
  uint32_t RingLength() override { return ring_length(); }
  void WatchPosition(int32_t& device_position, int32_t& read_position) override;

  // --- for tests ---
  uint32_t ring_length() const { return static_cast<uint32_t>(ring_.size()); }
  const WaveFormat& format() const { return format_; }
  const CaptureBufferDesc& desc() const { return desc_; }
  bool running() const { return running_; }
  uint32_t start_flags() const { return start_flags_; }
  uint32_t device_position() const;
  uint32_t read_position() const;
  // The read position a position read reports, jitter included, and how far back that is.
  uint32_t reported_read(uint64_t& back_frames);
  // Keeps the furthest complete byte a read reported (`back_frames` short of the truth).
  void NoteReported(uint64_t back_frames);
  int outstanding_locks() const { return outstanding_locks_; }
  const std::vector<uint8_t>& ring() const { return ring_; }

 private:
  friend class SimCaptureSystem;
  friend class SimCaptureDevice;
  // Writes the frames due at the system's current time.
  void CatchUp();
  // Notes what a reader could take at this moment (a position read, or a lock).
  void NoteReadable();
  void WriteFrame();

  SimCaptureSystem& system_;
  CaptureBufferDesc desc_;
  WaveFormat format_;
  std::vector<uint8_t> ring_;
  uint32_t block_;  // bytes per frame
  bool running_ = false;
  uint32_t start_flags_ = 0;
  uint32_t position_;  // device position
  uint32_t start_position_ = 0;
  int64_t start_time_us_ = 0;
  uint64_t frames_since_start_ = 0;
  uint64_t frames_at_reset_ = 0;    // frames since Start when the positions last started over
  int64_t paused_us_ = 0;           // time since Start in which the device delivered nothing
  bool dead_ = false;               // never delivers
  uint64_t reported_complete_ = 0;  // bytes since Start a read reported complete, at most
  int outstanding_locks_ = 0;
};

class SimCaptureDevice : public CaptureDevice {
 public:
  explicit SimCaptureDevice(SimCaptureSystem& system);
  ~SimCaptureDevice() override;
  std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) override;

 private:
  SimCaptureSystem& system_;
};

class SimCaptureSystem : public CaptureSystem {
 public:
  // --- settings (change them at any time; they act from the next call on) ---
  Signal signal = Signal::Silence();
  bool restart_positions_on_start = false;
  bool new_buffer_continues = false;
  uint32_t read_lag_frames = 0;
  uint32_t period_frames = 1;
  // A device that rounds ring lengths up to a multiple of this many bytes; 0 makes them as
  // asked.
  uint32_t ring_rounding = 0;
  int64_t start_delay_us = 0;
  // What the device tells the recorder its start delay may be at most.
  int64_t max_start_delay_us = 1000000;
  // The next this many buffers created never deliver (their device thread ended before they
  // began): every call succeeds and the positions never move.
  int dead_buffers = 0;
  // Every second position read reports the read position this many frames further back
  // (never before where the positions last started), as drivers whose positions flip between
  // two values do.
  uint32_t read_jitter_frames = 0;

  // --- the record ---
  std::vector<std::string> calls;
  // Every byte the buffer started last produced since that Start.
  const std::vector<uint8_t>& recorded() const { return recorded_; }
  // The spans of recorded() (begin, end) that a reader could not have taken: at none of the
  // GetCurrentPosition or Lock calls since that Start were they both complete (before the read
  // position) and not yet written over (within the ring behind the device position).
  std::vector<std::pair<size_t, size_t>> unrecoverable() const;

  // Moves the virtual clock on; running buffers write what is due.
  void AdvanceMicroseconds(int64_t microseconds);
  void Advance(int32_t milliseconds) { AdvanceMicroseconds(int64_t{milliseconds} * 1000); }
  // Moves the clock on just far enough that the buffer started last (while it runs) has
  // written `frames` more frames.
  void AdvanceFrames(uint64_t frames);

  // The machine sleeps for `microseconds`: the clock (which leaves sleep out) stands, the
  // devices deliver nothing, and SuspendedMicroseconds grows.
  void Suspend(int64_t microseconds) { suspended_us_ += microseconds; }
  // The system announces a suspension whose clock runs on (a connected standby) and the wake
  // after it: in between, the clock the recorder reads stands and SuspendedMicroseconds grows
  // instead. The devices do as they are told (Freeze them for a standby that stops them).
  void PowerSuspending() { power_.Suspending(now_us_); }
  void PowerResumed() { power_.Resumed(now_us_); }
  // The user picks another default recording device.
  void ChangeDefaultDevice() { ++default_device_changes_; }
  int64_t SuspendedMicroseconds() override { return suspended_us_ + power_.PausedBy(now_us_); }
  uint32_t DefaultDeviceChanges() override { return default_device_changes_; }

  // Stops every running buffer's delivery until Resume: positions stand still, calls succeed.
  // With `catch_up` the device then delivers at once what it recorded meanwhile (a sound
  // server that held its packets back); else that never exists (a dropout).
  void Freeze();
  void Resume(bool catch_up = false);
  // A driver that starts the running buffers' positions over: both go to 0 and the device
  // writes on from there; what it wrote before stays where it was in the ring.
  void ResetPositions();
  // The watch's calls are skipped while this is true.
  bool watch_held = false;

  std::unique_ptr<PeriodicThread> StartPeriodic(std::function<void()> tick,
                                                int64_t period_us) override;
  // How many periodic functions run.
  int periodic_running() const { return static_cast<int>(periodic_.size()); }

  // Makes the next matching call fail with `error` (after `after` successful ones).
  void FailNext(CaptureCall call, Error error, int after = 0);
  // Makes every matching call fail until ClearFailures.
  void FailAlways(CaptureCall call, Error error);
  void ClearFailures();

  // The most recently created buffer while it is alive, else null.
  SimCaptureBuffer* buffer() const;
  int live_buffers() const { return live_buffers_; }
  int live_devices() const { return live_devices_; }
  int buffers_created() const { return buffers_created_; }

  // The calls logged since `mark` (an index into `calls`) that start with `prefix`.
  std::vector<std::string> CallsSince(size_t mark, const std::string& prefix = "") const;

  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override;
  // The virtual clock, less the suspensions the system announced.
  int64_t NowMicroseconds() override { return now_us_ - power_.PausedBy(now_us_); }
  int64_t MaxStartDelayMicroseconds() override { return max_start_delay_us; }

 private:
  friend class SimCaptureBuffer;
  friend class SimCaptureDevice;
  // Logs the call, or logs it with "!" and throws when a failure matches it.
  void Call(CaptureCall call, const std::string& line);

  struct Periodic {
    int id;
    std::function<void()> tick;
    int64_t period_us;
    int64_t next_us;
  };
  class PeriodicHandle;
  void MoveClock(int64_t to_us);

  FaultList<CaptureCall> faults_;
  std::vector<Periodic> periodic_;
  int next_periodic_id_ = 0;
  std::vector<std::weak_ptr<SimCaptureBuffer>> buffers_;
  std::weak_ptr<SimCaptureBuffer> last_buffer_;
  const SimCaptureBuffer* recording_buffer_ = nullptr;  // owner of recorded_
  std::vector<uint8_t> recorded_;
  std::vector<std::pair<size_t, size_t>> readable_;  // what each position call left readable
  uint64_t next_frame_ = 0;                          // frame number of the signal
  uint32_t last_position_ = 0;                       // device position of the last buffer created
  int64_t now_us_ = 0;
  int64_t frozen_since_us_ = -1;  // -1: not frozen
  int64_t suspended_us_ = 0;
  PowerPauses power_;
  uint32_t default_device_changes_ = 0;
  uint64_t position_reads_ = 0;
  int live_buffers_ = 0;
  int live_devices_ = 0;
  int buffers_created_ = 0;
};

}  // namespace wendrix::sim
