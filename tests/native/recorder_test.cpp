#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "control/elements.h"
#include "meter/led_levels.h"
#include "recording/ring.h"
#include "tests/native/recorder_fixture.h"

namespace wendrix::test {
namespace {

using sim::CaptureCall;
using sim::Signal;

Error Lost() {
  return Error::Platform(sim::kDsErrBufferLost, "IDirectSoundCaptureBuffer: buffer lost");
}

TEST(Recorder, InitOpensTheDefaultDeviceAndCreatesTheRingInTheCurrentFormat) {
  RecorderRig rig;
  rig.SetFormat(22050, 1, 16);
  const size_t mark = rig.Mark();
  EXPECT_EQ(rig.control.Init_DSWendrix(), True);

  EXPECT_EQ(rig.capture.calls, (std::vector<std::string>{"CreateDevice", "CreateBuffer 44100"}));
  EXPECT_EQ(rig.s.BufferBytes, 44100);
  const CaptureBufferDesc& desc = rig.s.BufferDesc;
  EXPECT_EQ(desc.dwSize, 20u);
  EXPECT_EQ(desc.dwFlags, 0u);
  EXPECT_EQ(desc.dwBufferBytes, 44100u);
  EXPECT_EQ(desc.dwReserved, 0u);
  EXPECT_EQ(desc.lpwfxFormat, &rig.s.DeviceFormat);
  ASSERT_NE(rig.capture.buffer(), nullptr);
  EXPECT_EQ(rig.capture.buffer()->format(), rig.s.DeviceFormat);
  EXPECT_EQ(rig.s.DeviceFormat.nBlockAlign, 2);
  // The layout runs first; the interval is set to half the ring, then a fifth of that.
  ASSERT_FALSE(rig.host.CallsSince(mark, "Visible").empty());
  EXPECT_EQ(rig.host.CallsSince(mark, "Timer"),
            (std::vector<std::string>{"Timer.Interval 500", "Timer.Interval 100"}));
  EXPECT_EQ(rig.s.DeviceReady, True);
  EXPECT_EQ(rig.s.ReinitPending, False);
  EXPECT_FALSE(rig.host.timer_enabled());

  // Again: the old recorder is released first.
  EXPECT_EQ(rig.control.Init_DSWendrix(), True);
  EXPECT_EQ(rig.capture.live_buffers(), 1);
  EXPECT_EQ(rig.capture.live_devices(), 1);
}

TEST(Recorder, InitFailuresReachTheCallerAndLeaveItNotInitialised) {
  for (const CaptureCall call : {CaptureCall::CreateDevice, CaptureCall::CreateBuffer}) {
    RecorderRig rig;
    ASSERT_EQ(rig.control.Init_DSWendrix(), True);
    rig.capture.FailNext(call, Error::Platform(sim::kDsErrNoDriver, "no driver"));
    try {
      rig.control.Init_DSWendrix();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.hresult(), sim::kDsErrNoDriver);
    }
    EXPECT_EQ(rig.s.DeviceReady, False);
    EXPECT_EQ(rig.capture.live_buffers(), 0);
    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
  }
}

TEST(Recorder, UnInitReleasesBufferAndDevice) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  EXPECT_EQ(rig.control.UnInit_DSWendrix(), True);
  EXPECT_EQ(rig.s.DeviceReady, False);
  EXPECT_EQ(rig.s.RecorderBuffer, nullptr);
  EXPECT_EQ(rig.capture.live_buffers(), 0);
  EXPECT_EQ(rig.capture.live_devices(), 0);
  EXPECT_EQ(rig.control.UnInit_DSWendrix(), True);
}

TEST(Recorder, StartAndStopRunTheirStepsAroundOnStartAndOnStop) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.capture.signal = Signal::Noise(3);
  const std::string path = rig.Path();
  bool saw_start = false;
  bool saw_stop = false;
  rig.host.on_event = [&](Event e) {
    if (e == Event::OnStart) {
      saw_start = true;
      // Before the file and before the ring buffer; the recording flag and timer are on.
      EXPECT_FALSE(sim::SimFileSystem::ReadAll(path).has_value());
      EXPECT_FALSE(rig.capture.buffer()->running());
      EXPECT_EQ(rig.s.IsRecording, True);
      EXPECT_TRUE(rig.host.timer_enabled());
    }
    if (e == Event::OnStop) {
      saw_stop = true;
      // After the file is finished, while still recording with the timer running.
      EXPECT_FALSE(rig.capture.buffer()->running());
      const auto file = rig.File();
      EXPECT_EQ(U32At(file, 42), file.size() - 46);
      EXPECT_EQ(rig.s.IsRecording, True);
      EXPECT_TRUE(rig.host.timer_enabled());
      EXPECT_EQ(rig.control.Wendrix_Start(path), False) << "a start from OnStop is refused";
    }
  };
  EXPECT_EQ(rig.control.Wendrix_Start(path), True);
  EXPECT_TRUE(saw_start);
  EXPECT_EQ(rig.capture.buffer()->start_flags(), kCaptureStartLooping);
  EXPECT_EQ(rig.s.OutputFileName, path);
  rig.Drains(2);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_TRUE(saw_stop);
  EXPECT_EQ(rig.s.IsRecording, False);
  EXPECT_FALSE(rig.host.timer_enabled());
  EXPECT_EQ(rig.s.TickPhase, 0.0f);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
  // Both banks and lamps are turned off.
  EXPECT_EQ(rig.host.element_color(element::LEDOverflowLeft), 0x80u);
  EXPECT_EQ(
      rig.host.events,
      (std::vector<Event>{Event::OnStart, Event::dBOnChangeLeft, Event::dBOnChangeRight,
                          Event::dBOnChangeLeft, Event::dBOnChangeRight, Event::dBOnChangeLeft,
                          Event::dBOnChangeRight, Event::dBOnChangeLeft, Event::dBOnChangeRight,
                          Event::dBOnChangeLeft, Event::dBOnChangeRight, Event::OnStop}));

  // Nothing left to stop: False, no event, no file call.
  const size_t files_mark = rig.files.calls.size();
  EXPECT_EQ(rig.control.Wendrix_Stop(), False);
  EXPECT_EQ(rig.host.events.back(), Event::OnStop);
  EXPECT_EQ(rig.host.events.size(), 12u);
  EXPECT_EQ(rig.files.calls.size(), files_mark);
}

TEST(Recorder, StartIsRefusedUnlessEnabledReadyAndIdle) {
  struct Case {
    const char* name;
    bool init;
    Boolean enabled;
    bool recording;
  };
  const Case cases[] = {
      {"not initialised", false, True, false},
      {"disabled", true, False, false},
      {"already recording", true, True, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderRig rig;
    if (c.init) rig.control.Init_DSWendrix();
    if (c.recording) {
      ASSERT_EQ(rig.control.Wendrix_Start(rig.Path("first.wav")), True);
    }
    rig.s.IsEnabled = c.enabled;
    rig.s.TickPhase = 0.4f;
    rig.s.MeterDataReady = True;
    rig.s.ReinitPending = True;
    const size_t events = rig.host.events.size();

    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
    // The first two steps act all the same.
    EXPECT_EQ(rig.s.TickPhase, 0.0f);
    EXPECT_EQ(rig.s.MeterDataReady, False);
    EXPECT_EQ(rig.s.ReinitPending, False);
    EXPECT_EQ(rig.host.events.size(), events);
    EXPECT_FALSE(sim::SimFileSystem::ReadAll(rig.Path()).has_value());
    if (c.recording) {
      EXPECT_EQ(rig.s.OutputFileName, rig.Path("first.wav"));
    }
  }
}

TEST(Recorder, AnyEnabledOtherThanFalseRecords) {
  // A C or C++ host may hand the setter 1 (TRUE) rather than -1.
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.control.put_Enabled(1);
  EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), True);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_TRUE(sim::SimFileSystem::ReadAll(rig.Path()).has_value());
}

TEST(Recorder, AFormatChangedDuringARecordingIsTakenAfterOnStop) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.control.Wendrix_Start(rig.Path());
  rig.control.put_BitsPerSample(8);
  EXPECT_EQ(rig.capture.buffers_created(), 1) << "the running recording keeps its format";
  int buffers_at_stop = -1;
  rig.host.on_event = [&](Event e) {
    if (e == Event::OnStop) buffers_at_stop = rig.capture.buffers_created();
  };
  rig.Drains(1);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(buffers_at_stop, 1);
  EXPECT_EQ(rig.capture.buffers_created(), 2);
  EXPECT_EQ(rig.capture.buffer()->format().wBitsPerSample, 8);
  EXPECT_EQ(rig.s.BufferBytes, 88200);
  EXPECT_EQ(rig.s.ReinitPending, False);
  EXPECT_EQ(rig.s.DeviceReady, True);
  // The file of the running recording kept the 16-bit format.
  EXPECT_EQ(U16At(rig.File(), 34), 16);
}

// Fault mended: what the device recorded after the last transfer reaches the file.
TEST(Recorder, StopTransfersWhatWasRecordedSinceTheLastDrain) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.capture.signal = Signal::Noise(11);
  rig.capture.read_lag_frames = 64;
  rig.control.Wendrix_Start(rig.Path());
  rig.Drains(1);
  rig.Tick(3);  // 300 ms after the last drain
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(rig.capture.recorded().size(), 8u * 17640);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
  EXPECT_EQ(U32At(rig.File(), 42), 8u * 17640);
}

// Fault mended: a recording reads only its own audio, whatever positions the buffer reports
// after a restart or on a new ring.
TEST(Recorder, EachRecordingStartsReadingWhereItsBufferRunBegins) {
  struct Case {
    const char* name;
    bool restart_positions;
    bool new_buffer_continues;
    int32_t second_ring;  // 0: the same buffer again
  };
  const Case cases[] = {
      {"positions continue", false, false, 0},
      {"positions restart at 0", true, false, 0},
      {"new smaller ring at 0", false, false, 22052},
      {"new smaller ring where the last ended", false, true, 22052},
      {"new larger ring where the last ended", false, true, 352800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderRig rig;
    rig.capture.signal = Signal::Noise(5);
    rig.capture.restart_positions_on_start = c.restart_positions;
    rig.capture.new_buffer_continues = c.new_buffer_continues;
    rig.control.Init_DSWendrix();
    rig.control.Wendrix_Start(rig.Path("one.wav"));
    rig.Drains(1);
    rig.Tick(3);  // stop 150000 bytes into the ring
    rig.control.Wendrix_Stop();
    ASSERT_EQ(rig.s.DrainOffset, 141120);
    EXPECT_EQ(rig.Data("one.wav"), rig.capture.recorded());

    rig.capture.Advance(250);  // the device is idle meanwhile
    if (c.second_ring != 0) {
      rig.SetRing(c.second_ring);
      rig.control.Init_DSWendrix();
    }
    ASSERT_EQ(rig.control.Wendrix_Start(rig.Path("two.wav")), True);
    rig.Drains(3);
    rig.Tick(2);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_TRUE(rig.host.message_boxes.empty());
    EXPECT_FALSE(rig.capture.recorded().empty());
    EXPECT_EQ(rig.Data("two.wav"), rig.capture.recorded());
  }
}

// Fault mended: a file that cannot be created fails the start, which rolls back to ready.
TEST(Recorder, AFailedStartShowsWhyAndRollsBackToReady) {
  struct Case {
    const char* name;
    std::function<void(RecorderRig&)> arm;
    const char* text;
    bool file_created;
    bool file_there = false;  // a file of 100 bytes had the name before
  };
  const Case cases[] = {
      {"file cannot be created",
       [](RecorderRig& r) { r.files.fail_create = Error(75, "Path/File access error: take.wav"); },
       "Path/File access error: take.wav", false},
      {"file held by another program beyond the retries",
       [](RecorderRig& r) { r.files.held_for_ms = -1; }, "Cannot create ", false},
      {"ring buffer refuses to start",
       [](RecorderRig& r) { r.capture.FailNext(CaptureCall::Start, Lost()); },
       "IDirectSoundCaptureBuffer: buffer lost", true},
      {"ring buffer refuses to start, over a file that was there",
       [](RecorderRig& r) { r.capture.FailNext(CaptureCall::Start, Lost()); },
       "IDirectSoundCaptureBuffer: buffer lost", false, true},
      {"no position after the start",
       [](RecorderRig& r) { r.capture.FailNext(CaptureCall::Position, Lost()); },
       "IDirectSoundCaptureBuffer: buffer lost", true},
      {"OnStart handler fails",
       [](RecorderRig& r) {
         r.host.on_event = [](Event e) {
           if (e == Event::OnStart) throw Error(5, "handler failed");
         };
       },
       "handler failed", false},
      {"header cannot be written", [](RecorderRig& r) { r.files.free_space = 20; },
       "Cannot write the header of ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    const std::vector<uint8_t> before(100, 0xEE);
    if (c.file_there) {
      ASSERT_TRUE(sim::SimFileSystem::WriteAll(rig.Path(), before));
    }
    c.arm(rig);
    // The box comes after the roll-back: ticks it lets through find nothing to do.
    size_t drains_in_box = 0;
    rig.host.on_message_box = [&](const std::string&) {
      const size_t mark = rig.capture.calls.size();
      rig.Tick(6);
      drains_in_box = rig.capture.CallsSince(mark).size();
    };
    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
    EXPECT_EQ(drains_in_box, 0u);
    rig.host.on_message_box = nullptr;
    ASSERT_EQ(rig.host.message_boxes.size(), 1u);
    EXPECT_EQ(rig.host.message_boxes[0].rfind(c.text, 0), 0u) << rig.host.message_boxes[0];
    EXPECT_EQ(rig.s.IsRecording, False);
    EXPECT_EQ(rig.s.DeviceReady, True);
    EXPECT_FALSE(rig.host.timer_enabled());
    EXPECT_EQ(rig.s.FileHandle, nullptr);
    EXPECT_FALSE(rig.capture.buffer()->running());
    // A file the start created is removed again, through its handle: a header whose sizes
    // are 0 is no file. One that was there is as it was.
    if (c.file_there) {
      EXPECT_EQ(rig.File(), before);
    } else {
      EXPECT_FALSE(sim::SimFileSystem::ReadAll(rig.Path()).has_value());
    }
    EXPECT_EQ(std::count(rig.files.calls.begin(), rig.files.calls.end(), "Discard"),
              c.file_created ? 1 : 0);
    EXPECT_EQ(rig.control.Wendrix_Stop(), False);
    EXPECT_EQ(rig.EventsSince(0, Event::OnStop), 0);

    // Ready again: the next start records normally.
    rig.files.fail_create.reset();
    rig.files.held_for_ms.reset();
    rig.files.free_space.reset();
    rig.host.on_event = nullptr;
    ASSERT_EQ(rig.control.Wendrix_Start(rig.Path()), True);
    rig.Drains(1);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  }
}

TEST(Recorder, AFailedStartWhoseBoxCannotBeShownStillReturnsFalse) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.files.fail_create = Error(75, "Path/File access error: take.wav");
  rig.host.FailNext("MessageBox", Error(5, "no box"));
  EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
  EXPECT_EQ(rig.s.IsRecording, False);
  rig.files.fail_create.reset();
  EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), True);
}

// Fault mended: a file that another program holds for a moment (a scanner, a preview of the
// last take) is tried again for a quarter of a second, no longer: the wait holds the thread of
// every other control in the process.
TEST(Recorder, AFileHeldForAMomentIsWaitedFor) {
  RecorderRig rig;
  rig.files.held_for_ms = 150;
  rig.StartNoise(3);
  EXPECT_EQ(rig.s.IsRecording, True);
  EXPECT_EQ(rig.files.paused_ms, 150);
  rig.Drains(1);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  EXPECT_EQ(rig.Data(), rig.capture.recorded());
  EXPECT_TRUE(rig.host.message_boxes.empty());

  // One that is never let go fails the start after the quarter of a second.
  rig.files.held_for_ms = -1;
  rig.files.paused_ms = 0;
  EXPECT_EQ(rig.control.Wendrix_Start(rig.Path("other.wav")), False);
  EXPECT_EQ(rig.files.paused_ms, 250);
  ASSERT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_NE(rig.host.message_boxes[0].find("another program has the file open"), std::string::npos);
}

// Fault mended: the header's sizes follow the audio on disk while the recording runs, and a
// volume that goes away ends the recording with one report and one error, never the control.
TEST(Recorder, AVanishedVolumeEndsTheRecordingNotTheControl) {
  RecorderRig rig;
  rig.StartNoise(15);
  rig.Drains(2);
  std::vector<uint8_t> file = rig.File();
  ASSERT_GT(file.size(), 46u);
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
  EXPECT_EQ(U32At(file, 4), file.size() - 8);

  // Writes, size patches and every reopening fail from here on.
  rig.files.gone_volume = rig.dir.path();
  rig.Drains(2);
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  try {
    rig.control.Wendrix_Stop();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.description().rfind("The drive or network share holding " + rig.Path() +
                                        " went away: the recording has stopped, but the file "
                                        "could not be finished (",
                                    0),
              0u)
        << e.description();
  }
  EXPECT_EQ(rig.s.IsRecording, False);
  EXPECT_EQ(rig.s.FileHandle, nullptr);
  EXPECT_EQ(rig.EventsSince(0, Event::OnStop), 1);
  EXPECT_FALSE(rig.host.timer_enabled());
  EXPECT_FALSE(rig.capture.buffer()->running());
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_EQ(rig.control.Wendrix_Stop(), False);
  // What reached the disk before is a file players open.
  EXPECT_EQ(rig.File(), file);

  // The control works as after any stop: another take on another drive.
  EXPECT_EQ(rig.control.UnInit_DSWendrix(), True);
  EXPECT_EQ(rig.control.Init_DSWendrix(), True);
  sim::TempDir other;
  ASSERT_EQ(rig.control.Wendrix_Start(other.File("b.wav")), True);
  rig.Drains(1);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  file = *sim::SimFileSystem::ReadAll(other.File("b.wav"));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 46, file.end()), rig.capture.recorded());
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
}

// Fault mended: the header counts what was written; a full disk is reported once and leaves
// a valid file.
TEST(Recorder, AFullDiskIsReportedOnceAndTheFileStaysValid) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.capture.signal = Signal::Noise(2);
  rig.files.free_space = 46 + 100000;  // room for part of the second drain
  rig.control.Wendrix_Start(rig.Path());
  rig.Drains(4);
  ASSERT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_EQ(rig.host.message_boxes[0].rfind("private update wendrix Error: Cannot write to ", 0),
            0u);
  EXPECT_EQ(rig.s.BytesRecorded, 100000);
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  const auto file = rig.File();
  ASSERT_EQ(file.size(), 46u + 100000);
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  EXPECT_EQ(U32At(file, 42), 100000u);
  const auto& truth = rig.capture.recorded();
  EXPECT_EQ(rig.Data(), std::vector<uint8_t>(truth.begin(), truth.begin() + 100000));
  EXPECT_EQ(rig.host.message_boxes.size(), 1u);
}

// Fault mended: the data chunk stops growing at the largest size its RIFF size can describe.
TEST(Recorder, TheSizeLimitEndsAppendingWithOneReport) {
  RecorderRig rig;
  rig.control.Init_DSWendrix();
  rig.capture.signal = Signal::Noise(4);
  rig.control.Wendrix_Start(rig.Path());
  rig.Drains(1);
  // As if the recording had run for hours: 1002 bytes short of the limit.
  const int32_t before = static_cast<int32_t>(kMaxDataBytes) - 1002;
  const int32_t appended = rig.s.BytesRecorded;
  rig.s.BytesRecorded = before;
  rig.Drains(3);
  ASSERT_EQ(rig.host.message_boxes.size(), 1u);
  EXPECT_NE(rig.host.message_boxes[0].find("the most a WAVE file can hold"), std::string::npos);
  EXPECT_EQ(rig.s.BytesRecorded, before + 1000) << "whole 4-byte frames only";
  EXPECT_EQ(rig.control.Wendrix_Stop(), True);
  const auto file = rig.File();
  EXPECT_EQ(file.size(), 46u + appended + 1000);
  EXPECT_EQ(U32At(file, 42), static_cast<uint32_t>(before + 1000));
  EXPECT_EQ(U32At(file, 4), static_cast<uint32_t>(before + 1000 + 38));
  const auto& truth = rig.capture.recorded();
  EXPECT_EQ(rig.Data(), std::vector<uint8_t>(truth.begin(), truth.begin() + appended + 1000));
}

// Fault mended: releasing or re-creating the recorder during a recording ends it properly.
TEST(Recorder, UnInitOrInitDuringARecordingStopsAndFinishesItFirst) {
  for (const bool reinit : {false, true}) {
    SCOPED_TRACE(reinit ? "Init_DSWendrix" : "UnInit_DSWendrix");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(8);
    rig.control.Wendrix_Start(rig.Path());
    rig.Drains(1);
    rig.Tick(2);
    EXPECT_EQ(reinit ? rig.control.Init_DSWendrix() : rig.control.UnInit_DSWendrix(), True);
    EXPECT_EQ(rig.s.IsRecording, False);
    EXPECT_EQ(rig.EventsSince(0, Event::OnStop), 1);
    EXPECT_FALSE(rig.host.timer_enabled());
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(U32At(rig.File(), 42), rig.capture.recorded().size());
    EXPECT_EQ(rig.s.DeviceReady, reinit ? True : False);
    EXPECT_EQ(rig.capture.live_buffers(), reinit ? 1 : 0);
    rig.Drains(2);
    EXPECT_TRUE(rig.host.message_boxes.empty());
    EXPECT_EQ(rig.control.Wendrix_Stop(), False);
  }
}

// Fault mended: a control destroyed while recording leaves a finished file.
TEST(Recorder, DestroyingARecordingControlFinishesItsFile) {
  sim::SimHost host;
  sim::SimCaptureSystem capture;
  sim::SimFileSystem files;
  sim::TempDir dir;
  capture.signal = Signal::Noise(9);
  {
    Control control{Platform{host, host, host, host, capture, files}};
    control.Initialize();
    control.InitProperties();
    control.put_Enabled(True);
    control.Init_DSWendrix();
    control.Wendrix_Start(dir.File("take.wav"));
    for (int i = 0; i < 7; ++i) {
      capture.Advance(host.interval());
      control.Timer1_Timer();
    }
  }
  EXPECT_EQ(capture.live_buffers(), 0);
  EXPECT_FALSE(host.timer_enabled());
  const auto file = sim::SimFileSystem::ReadAll(dir.File("take.wav")).value();
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 46, file.end()), capture.recorded());
  EXPECT_EQ(U32At(file, 42), capture.recorded().size());
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  EXPECT_TRUE(host.message_boxes.empty());
  EXPECT_EQ(std::count(host.events.begin(), host.events.end(), Event::OnStop), 0);
}

TEST(Recorder, DestructionSurvivesADeviceAndDiskThatFailEverything) {
  sim::SimHost host;
  sim::SimCaptureSystem capture;
  sim::SimFileSystem files;
  sim::TempDir dir;
  {
    Control control{Platform{host, host, host, host, capture, files}};
    control.Initialize();
    control.InitProperties();
    control.put_Enabled(True);
    control.Init_DSWendrix();
    control.Wendrix_Start(dir.File("take.wav"));
    capture.FailAlways(CaptureCall::Stop, Lost());
    capture.FailAlways(CaptureCall::Position, Lost());
    files.fail_binary_open = Error(75, "Path/File access error");
  }
  EXPECT_EQ(capture.live_buffers(), 0);
  EXPECT_TRUE(host.message_boxes.empty());
}

// Re-entry from the host's handlers.
TEST(Recorder, HandlersThatCallBackAreServedSafely) {
  {
    SCOPED_TRACE("Wendrix_Stop from OnStop");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.control.Wendrix_Start(rig.Path());
    int nested = 0;
    rig.host.on_event = [&](Event e) {
      if (e == Event::OnStop && nested++ == 0) {
        EXPECT_EQ(rig.control.Wendrix_Stop(), False);
      }
    };
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.EventsSince(0, Event::OnStop), 1);
  }
  // A stop or a release from a level-event handler: the meter it cleared stays clear, no
  // level event comes after OnStop and the level that handler read is not overwritten.
  for (const bool release : {false, true}) {
    SCOPED_TRACE(release ? "UnInit_DSWendrix from dBOnChangeLeft" : "Wendrix_Stop from dBOnChangeLeft");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Sines({{440, 1.0}});
    rig.control.Wendrix_Start(rig.Path());
    rig.Drains(1);
    Variant level_at_stop;
    rig.host.on_event = [&](Event e) {
      if (e != Event::dBOnChangeLeft || rig.s.IsRecording == False) return;
      level_at_stop = rig.control.get_dBLeft();
      release ? rig.control.UnInit_DSWendrix() : rig.control.Wendrix_Stop();
    };
    const size_t mark = rig.Mark();
    rig.Tick(1);
    EXPECT_EQ(rig.s.IsRecording, False);
    EXPECT_EQ(rig.EventsSince(mark, Event::dBOnChangeRight), 0);
    EXPECT_EQ(rig.control.get_dBLeft(), level_at_stop);
    for (const int e : {element::LEDOverflowLeft, element::LEDOverflowRight}) {
      EXPECT_EQ(rig.host.element_color(e), kLampOffColor) << "element " << e;
    }
  }
  {
    SCOPED_TRACE("UnInit_DSWendrix from OnStop with a format change pending");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.control.Wendrix_Start(rig.Path());
    rig.control.put_BitsPerSample(8);
    rig.host.on_event = [&](Event e) {
      if (e == Event::OnStop) rig.control.UnInit_DSWendrix();
    };
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.s.DeviceReady, False);
    EXPECT_EQ(rig.capture.live_buffers(), 0);
    EXPECT_EQ(rig.capture.buffers_created(), 1);
  }
  {
    SCOPED_TRACE("Wendrix_Stop from OnStart");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.host.on_event = [&](Event e) {
      if (e == Event::OnStart) {
        EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      }
    };
    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), False);
    EXPECT_EQ(rig.s.IsRecording, False);
    EXPECT_FALSE(rig.capture.buffer()->running());
    EXPECT_FALSE(sim::SimFileSystem::ReadAll(rig.Path()).has_value());
    EXPECT_FALSE(rig.host.timer_enabled());
    EXPECT_TRUE(rig.host.message_boxes.empty());
  }
  {
    SCOPED_TRACE("ticks from a message box of the host's OnStart handler");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(6);
    // An earlier recording leaves the drain's offset in the middle of the ring; a new ring
    // starts at 0.
    rig.control.Wendrix_Start(rig.Path("before.wav"));
    rig.Tick(8);
    rig.control.Wendrix_Stop();
    rig.control.Init_DSWendrix();
    size_t mark = 0;
    rig.host.on_event = [&](Event e) {
      if (e != Event::OnStart) return;
      mark = rig.Mark();
      rig.Tick(7);  // the buffer has not started: nothing to take, nothing to meter
      EXPECT_EQ(rig.EventsSince(mark, Event::dBOnChangeLeft), 0);
      EXPECT_EQ(rig.s.MeterDataReady, False);
    };
    EXPECT_EQ(rig.control.Wendrix_Start(rig.Path()), True);
    rig.host.on_event = nullptr;
    rig.Drains(2);
    EXPECT_EQ(rig.control.Wendrix_Stop(), True);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
  }
  {
    SCOPED_TRACE("Wendrix_Stop from dBOnChangeLeft");
    RecorderRig rig;
    rig.control.Init_DSWendrix();
    rig.capture.signal = Signal::Noise(10);
    rig.control.Wendrix_Start(rig.Path());
    rig.Drains(1);
    rig.host.on_event = [&](Event e) {
      if (e == Event::dBOnChangeLeft) {
        EXPECT_EQ(rig.control.Wendrix_Stop(), True);
      }
    };
    rig.Tick(1);
    rig.host.on_event = nullptr;
    EXPECT_EQ(rig.s.IsRecording, False);
    EXPECT_EQ(rig.s.TickPhase, 0.0f);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_EQ(rig.capture.recorded().size(), 6u * 17640);
    rig.Tick(10);
    EXPECT_EQ(rig.Data(), rig.capture.recorded());
    EXPECT_TRUE(rig.host.message_boxes.empty());
  }
}

}  // namespace
}  // namespace wendrix::test
