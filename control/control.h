// DSWendrixControl, the portable core: one control-state record and the operations of the
// control, implemented against the platform services. The COM object forwards to it.
//
// Failures are thrown as wendrix::Error; the operation ends there unless its own comment says
// it reports in a message box or skips a failing step.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>

#include "control/state.h"
#include "platform/capture.h"
#include "platform/container.h"
#include "platform/files.h"
#include "platform/variant.h"
#include "recording/spill_queue.h"

namespace wendrix {

// The services a control instance uses; they must outlive it.
struct Platform {
  Container& container;
  Surface& surface;
  Elements& elements;
  Timer& timer;
  CaptureSystem& capture;
  FileSystem& files;
};

// The two LED banks: a row of 13 LEDs with its overflow lamp.
enum class Bank { Left, Right };

// A BackStyle or BorderStyle (`property`) as the surface takes it: 0 or 1, else error 380
// naming the property and its values (6 for a value wider than 16 bits).
int16_t StyleValue(const char* property, int32_t style);

class Control {
 public:
  explicit Control(const Platform& platform);
  // A control destroyed while recording stops the recording and finishes its file.
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlState& state() { return s_; }
  const ControlState& state() const { return s_; }

  // Host notifications (control/lifecycle.cpp).
  void Initialize();
  void InitProperties();
  void ReadProperties(PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;
  void Resize();

  // Enabled (control/lifecycle.cpp).
  Boolean get_Enabled() const { return s_.IsEnabled; }
  void put_Enabled(Boolean value);

  // Appearance (control/appearance.cpp).
  uint32_t get_BackColor() const;
  void put_BackColor(uint32_t color);
  int32_t get_BackStyle() const;
  void put_BackStyle(int32_t style);
  int32_t get_BorderStyle() const;
  void put_BorderStyle(int32_t style);

  // Format and buffer settings (recording/format_settings.cpp).
  int32_t get_SamplesPerSecond() const { return s_.SampleRate; }
  void put_SamplesPerSecond(int32_t value);
  int32_t get_NumChannels() const { return s_.ChannelCount; }
  void put_NumChannels(int32_t value);
  int32_t get_BitsPerSample() const { return s_.SampleBits; }
  void put_BitsPerSample(int32_t value);
  int32_t get_BufferLength() const { return s_.BufferBytes; }
  void put_BufferLength(int32_t value);
  Boolean get_AutoCalculateBuff() const { return s_.AutoBufferSize; }
  void put_AutoCalculateBuff(Boolean value);
  Variant get_BufferPosition();
  [[noreturn]] void put_BufferPosition(const Variant& value);

  // Meter visibility (meter/visibility.cpp).
  Boolean get_ShowVU() const { return s_.MeterVisible; }
  void put_ShowVU(Boolean value);
  Boolean get_ShowVUScale() const { return s_.ScaleVisible; }
  void put_ShowVUScale(Boolean value);

  // Level properties (meter/level_properties.cpp).
  Variant get_dBLeft() const;
  [[noreturn]] void put_dBLeft(const Variant& value);
  Variant get_dBRight() const;
  [[noreturn]] void put_dBRight(const Variant& value);

  // Recorder control (recording/recorder.cpp).
  Boolean Init_DSWendrix();
  Boolean UnInit_DSWendrix();
  Boolean Wendrix_Start(const std::string& file_name);
  Boolean Wendrix_Stop();

  // Element events.
  void Timer1_Timer();              // recording/tick.cpp
  void LEDOverflowLeft_Click();     // meter/led_banks.cpp
  void LEDOverflowRight_Click();    // meter/led_banks.cpp

  // Internal operations, public so that tests can drive them one by one.
  void ApplyLayout();                // control/lifecycle.cpp
  void ApplyMeterVisibility();       // meter/visibility.cpp: step 1 of ApplyLayout
  void UpdateRecording();            // recording/drain.cpp
  void MeterSlice(float p);          // meter/level_analysis.cpp
  // Fills SampleWords from the block of the last transfer when they do not hold it yet
  // (recording/drain.cpp).
  void MakeSampleWords();
  void PaintBar(Bank bank, Currency level);  // meter/led_banks.cpp
  void ClearLeftMeter();             // meter/led_banks.cpp
  void ClearRightMeter();            // meter/led_banks.cpp
  void LightLamp(Bank bank);         // meter/led_banks.cpp
  void WriteWaveHeader();            // recording/wave_writer.cpp
  void CreateDataChunk();            // recording/wave_writer.cpp
  void FinishWaveFile();             // recording/wave_writer.cpp
  // Writes the header's two sizes for what the file holds now, through the recording's own
  // handle, when they have changed and a quarter of a second has passed since the last time
  // (recording/wave_writer.cpp; every tick).
  void KeepHeaderCurrent();

 private:
  // The format-change sequence after an accepted value was stored.
  void FormatChanged(const char* property_name, bool relayout);
  // 387 at design time, 382 at run time: the refusal of a read-only property's put.
  [[noreturn]] void RefuseSet() const;

  // Recorder internals (recording/recorder.cpp, recording/drain.cpp).
  // Sets Timer1's interval from the ring the recorder was created with and the meter's
  // visibility; does nothing while no recorder exists. Throws 380 when the interval would be 0.
  void ApplyTickInterval();
  void SetTickInterval(int32_t ring_bytes, int32_t bytes_per_second);
  // The stop sequence, OnStop included. `reinit_if_pending`: re-create the recorder when a
  // setting changed during the recording (not when the recorder is being released anyway).
  void StopRecording(bool reinit_if_pending);
  // Raises a device's failure at the end of a stop; a device that is gone is named as such.
  [[noreturn]] void RaiseDeviceFailure(const std::exception_ptr& failure);
  // Puts a failed start back to the ready state: no capture, no open file, no timer.
  void RollBackStart();
  // Raises a failure to finish the file at the end of a stop; a volume that went away is
  // named in plain words.
  [[noreturn]] void RaiseFinishFailure(const std::exception_ptr& failure);
  // Opens the output file as it is (recording/wave_writer.cpp); retries while it is held.
  void OpenWaveFile();
  // Closes the output file; one this start created or emptied is removed through its handle.
  void DropWaveFile();
  // Steps 2 to 16 of the drain; `report` false keeps failures silent (destruction).
  void TransferNewBytes(bool report);
  // Appends `count` bytes (or silence) to the output file and counts what reached it; returns
  // the drain's report when this recording's appending ends here (a failed write, the size
  // limit), naming `transfer_bytes`.
  std::string AppendToFile(const uint8_t* data, int64_t count, int64_t transfer_bytes);
  std::string AppendSilence(int64_t count, int64_t transfer_bytes);
  // The position watch of a buffer just started (its positions read just before the clock
  // read `at`), and its thread; stopping joins the thread (never call that under the loader
  // lock) and keeps the count for the last transfer.
  void StartWatch(int32_t device_position, int32_t read_position,
                  const CaptureSystem::ClockReading& at);
  void StopWatch();
  // Starts the ring buffer and its watch, from the positions read straight after Start.
  void StartBuffer();
  // Locks `n` bytes from ring offset `from`; a lock of another size is given back and fails.
  void LockRing(uint32_t from, int64_t n, LockedRegion& first, LockedRegion& second);
  // Copies `n` bytes from ring offset `from` into the sample block.
  void TakeBlock(uint32_t from, int64_t n);
  // Makes the sample block from two regions of bytes.
  void FillBlock(const LockedRegion& first, const LockedRegion& second);
  // Adds a report to the drain's box ("" adds nothing).
  using Tell = std::function<void(std::string)>;
  // Writes the blocks the watch saved, in order, each after the loss before it, freeing each
  // once written (recording/saved_audio.cpp); `n` is the transfer's size for the reports.
  void WriteSaved(std::deque<SpillQueue::Block>& saved, int64_t n, bool refused, bool report,
                  const Tell& tell);
  // Writes silence for `lost` bytes and tells the loss (AccountLoss's terms); returns the
  // report of a failed write.
  std::string WriteLoss(int64_t lost, bool at_least, bool reset, bool refused, int64_t saved,
                        int64_t n, bool report, const Tell& tell);
  // The report of a sleep since the last read or of a new default device (once a recording),
  // or "".
  std::string PlatformNews(int64_t n);
  // Counts audio lost in one read (`silence_written` of it reached the file as silence;
  // `at_least`: the count is the least the clock makes certain; `reset`: the device's positions
  // started over) and returns the report of the recording's first loss, when `report` lets it
  // be shown.
  // `refused`: the device refused to be read meanwhile. `saved`, when not negative: the loss
  // came when the watch's spill had no room left, after it had saved that many bytes.
  std::string AccountLoss(int64_t lost, bool at_least, bool reset, bool refused, int64_t saved,
                          int64_t silence_written, int64_t n, bool report);
  // The one report of a device whose bursts (silent for `burst_us`, then all at once) may not
  // fit the ring, or "".
  std::string BurstReport(int64_t burst_us, int64_t n);
  // The report of a recording whose device has delivered nothing since Start: while it runs
  // (once, after `silent_us`) and at its stop (`at_stop`), or "" when it was told already.
  std::string NoAudioReport(int64_t silent_us, bool at_stop, int64_t n);
  // A ring buffer that has not moved its positions at all once the start delay has passed is
  // made anew and started again, once per recording; a failure is reported and ends capture.
  void RemakeBufferThatNeverStarted();
  // What the file holds for `lost` bytes of which `silence` were written as silence.
  std::string SilenceClause(int64_t lost, int64_t silence) const;
  // At the end of a recording: the total of the losses no report has told yet, or "".
  std::string LossTotalReport();
  // The one report of a recording whose device stopped or was removed (`why`), or "" when it
  // was given already.
  std::string DeviceGoneReport(const std::string& why, int64_t n);
  // The one report (per Init_DSWendrix) of a recording whose first 3 seconds from the device
  // are exact digital silence, checked on the next `n` bytes from the device, at `data`; "".
  std::string SilentStartReport(const uint8_t* data, int64_t n);
  // Shows a report box; a container that cannot show one is not told again.
  void ShowReport(const std::string& text);
  // A drain period or more has passed on the capture clock since the ring was last read.
  bool DrainOverdue();
  // Refuses a ring of `ring_bytes` in `format` that Timer1 cannot read often enough, or whose
  // interval Timer1 cannot wait (380 naming BufferLength and its bound).
  void CheckTimerServesRing(int32_t ring_bytes, const WaveFormat& format) const;
  // After a failed transfer the drain runs on every tick, at a fifth of the interval while
  // the meter is hidden, until a transfer succeeds; `on` false ends that.
  void SetDrainRetry(bool on);
  // While the watch still holds saved audio the drain runs on every tick, at a fifth of the
  // interval while the meter is hidden; `on` false ends that (recording/drain.cpp).
  void SetBacklog(bool on);
  // The interval for DrainRetry and DrainBacklog as they are.
  void ApplyQuickTicks();

  Platform p_;
  ControlState s_;
};

}  // namespace wendrix
