// A whole recording through the control on the Windows platform: DirectSound capture of the
// default device, the mmio file and the size patch, ticks delivered at the timer's interval.
// The file it leaves (recording.wav in the working directory, with recording.txt naming the
// recorded time) is checked again by readers no one here wrote (check_recording.py).
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <set>
#include <string>

#include "control/control.h"
#include "platform/win32/dsound_capture.h"
#include "platform/win32/file_system.h"
#include "platform/win32/host_surface.h"
#include "platform/win32/text.h"
#include "tests/win/win32_capture_support.h"
#include "tests/win/win32_test_support.h"

namespace wendrix::test {
namespace {

std::string WorkingFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
  return win32::Narrow(std::wstring(dir, n) + L"\\" + name);
}

// The ids of this process's threads whose description begins with `prefix`.
std::set<DWORD> ThreadsNamed(const wchar_t* prefix) {
  using Describe = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto describe = reinterpret_cast<Describe>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription"));
  std::set<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (!describe || snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    PWSTR name = nullptr;
    if (thread && SUCCEEDED(describe(thread, &name)) && name &&
        std::wstring(name).rfind(prefix, 0) == 0) {
      ids.insert(entry.th32ThreadID);
    }
    if (name) LocalFree(name);
    if (thread) CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return ids;
}

// The default device, except that once armed the thread Wine's DirectSound runs for the next
// capture buffer made is ended as soon as it is there: the buffer then takes every call and never
// moves, as when that thread loses its start-up race (it can run before the buffer holds a
// reference, see it released and end).
struct CaptureThatLosesAThread : win32::DsCaptureSystem {
  bool armed = false;
  int ended = 0;

  struct Device : CaptureDevice {
    CaptureThatLosesAThread& system;
    std::shared_ptr<CaptureDevice> real;
    Device(CaptureThatLosesAThread& s, std::shared_ptr<CaptureDevice> d)
        : system(s), real(std::move(d)) {}
    std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) override {
      const std::set<DWORD> before = ThreadsNamed(L"wine_dsound_cap");
      auto buffer = real->CreateCaptureBuffer(desc);
      // The thread names itself when it first runs: give it a moment to.
      for (int wait = 0; system.armed && wait < 200; ++wait, Sleep(10)) {
        for (const DWORD id : ThreadsNamed(L"wine_dsound_cap")) {
          if (before.count(id)) continue;
          const HANDLE thread = OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, id);
          if (thread && TerminateThread(thread, 0)) {
            WaitForSingleObject(thread, 5000);
            ++system.ended;
            system.armed = false;
          }
          if (thread) CloseHandle(thread);
        }
      }
      return buffer;
    }
  };
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    return std::make_shared<Device>(*this, DsCaptureSystem::CreateDefaultDevice());
  }
};

struct WinRecorder : ::testing::Test {
  ComScope com;
  RecordingContainer container;
  win32::SurfaceState surface;
  win32::ElementsState elements;
  ManualTimer timer;
  CaptureThatLosesAThread capture;
  win32::Win32FileSystem files;
  Control control{Platform{container, surface, elements, timer, capture, files}};

  void SetUp() override {
    control.Initialize();
    control.InitProperties();
    control.put_Enabled(True);
  }
  // Delivers ticks at the timer's interval, on a fixed schedule, for `seconds` or until
  // `done` holds.
  template <typename Done>
  void TickFor(double seconds, Done&& done) {
    const double start = Now();
    const double period = timer.interval / 1000.0;
    for (int tick = 1; start + tick * period <= start + seconds + 1e-9 && !done(); ++tick) {
      while (Now() < start + tick * period) Sleep(1);
      ASSERT_TRUE(timer.enabled);
      control.Timer1_Timer();
    }
  }
  void TickFor(double seconds) {
    TickFor(seconds, [] { return false; });
  }
};

TEST_F(WinRecorder, RecordsTheDefaultDeviceIntoAWaveFile) {
  const std::string path = WorkingFile(L"recording.wav");
  const std::string note = WorkingFile(L"recording.txt");
  DeleteFileW(win32::Wide(path).c_str());
  DeleteFileW(win32::Wide(note).c_str());
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, capture);
  const double warm_up = WarmUpCapture(capture);
  std::printf("[ record  ] the process's first capture delivered after %.3f s\n", warm_up);
  ASSERT_GE(warm_up, 0) << "the device delivers nothing";

  ASSERT_EQ(control.Init_DSWendrix(), True);  // 44100 Hz, 2 channels, 16 bits, one second
  ASSERT_EQ(timer.interval, 100);
  ASSERT_EQ(control.Wendrix_Start(path), True);
  const double started = Now();
  TickFor(3.0);
  const Variant left = control.get_dBLeft();
  const Variant right = control.get_dBRight();
  ASSERT_EQ(control.Wendrix_Stop(), True);
  const double recorded = Now() - started;

  EXPECT_EQ(container.message_boxes, std::vector<std::string>{});
  ASSERT_FALSE(container.events.empty());
  EXPECT_EQ(container.events.front(), Event::OnStart);
  EXPECT_EQ(container.events.back(), Event::OnStop);

  const Bytes file = *ReadAll(path);
  ASSERT_GE(file.size(), 46u);
  EXPECT_EQ(TextAt(file, 0), "RIFF");
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
  const double seconds = static_cast<double>(file.size() - 46) / 176400;
  std::printf("[ record  ] %.3f s recorded, %.3f s in the file; dBLeft %.2f, dBRight %.2f\n",
              recorded, seconds, left.ToDouble(), right.ToDouble());
  // The stop takes the tail too: the file holds the recorded time, less the device's latency.
  EXPECT_NEAR(seconds, recorded, 0.5);
  const std::string text =
      "recorded_seconds " + std::to_string(recorded) + "\ndrain_period_seconds 0.5\n";
  ASSERT_TRUE(WriteAll(note, Bytes(text.begin(), text.end())));

  const auto tones = ExpectedTones();
  if (!tones) return;
  EXPECT_NEAR(left.ToDouble(), tones->first.peak_db(), 0.5);
  EXPECT_NEAR(right.ToDouble(), tones->second.peak_db(), 0.5);
  const auto* samples = reinterpret_cast<const int16_t*>(file.data() + 46);
  const size_t frames = (file.size() - 46) / 4;
  for (int channel = 0; channel < 2; ++channel) {
    const Tone& tone = channel == 0 ? tones->first : tones->second;
    const ChannelStats stats = Analyse(samples, frames, channel, 2, 44100);
    EXPECT_NEAR(stats.peak_db, tone.peak_db(), 0.5) << "channel " << channel;
    EXPECT_NEAR(stats.frequency_hz, tone.frequency_hz, tone.frequency_hz * 0.02)
        << "channel " << channel;
  }
}

// A path the start cannot create: the start reports it in a message box and fails, and the
// control stays ready for the next start.
TEST_F(WinRecorder, AnUncreatablePathFailsTheStartAndLeavesTheControlReady) {
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, capture);
  WinTempDir dir;
  const std::string path = dir.File("no such dir\\take.wav");
  ASSERT_EQ(control.Init_DSWendrix(), True);
  EXPECT_EQ(control.Wendrix_Start(path), False);
  ASSERT_EQ(container.message_boxes.size(), 1u);
  EXPECT_EQ(container.message_boxes[0], "Cannot create \"" + path + "\": Path not found");
  EXPECT_EQ(control.state().IsRecording, False);
  EXPECT_FALSE(timer.enabled);

  const std::string good = dir.File("take.wav");
  ASSERT_EQ(control.Wendrix_Start(good), True);
  TickFor(5.0, [&] { return control.state().BytesRecorded > 0; });
  ASSERT_EQ(control.Wendrix_Stop(), True);
  EXPECT_GT(ReadAll(good)->size(), 46u);
}

// A relative name names the file of the current directory at the start, whatever directory
// the host moves to (its file dialogs do) before the stop: the take is finished there and no
// other file appears. While it records, a reader that does not share writes (a scanner) is
// kept out, so nothing between the last write and the sizes can stop them.
TEST_F(WinRecorder, ARelativeNameKeepsItsFileAcrossADirectoryChangeAndAHoldingReader) {
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, capture);
  WinTempDir first;
  WinTempDir second;
  wchar_t here[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, here), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(win32::Wide(first.path()).c_str()));
  ASSERT_EQ(control.Init_DSWendrix(), True);
  const bool started = control.Wendrix_Start("take.wav") == True;
  const std::string take = first.File("take.wav");
  HANDLE reader = INVALID_HANDLE_VALUE;
  if (started) {
    EXPECT_EQ(control.state().OutputFileName, take);
    TickFor(5.0, [&] { return control.state().BytesRecorded > 0; });
    SetCurrentDirectoryW(win32::Wide(second.path()).c_str());
    reader = CreateFileW(win32::Wide(take).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE) << "a reader that shares no writes got in";
    EXPECT_EQ(control.Wendrix_Stop(), True);
  }
  SetCurrentDirectoryW(here);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  ASSERT_TRUE(started) << (container.message_boxes.empty() ? "" : container.message_boxes[0]);

  EXPECT_EQ(container.message_boxes, std::vector<std::string>{});
  const Bytes file = *ReadAll(take);
  ASSERT_GT(file.size(), 46u);
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
  EXPECT_EQ(GetFileAttributesW(win32::Wide(second.File("take.wav")).c_str()),
            INVALID_FILE_ATTRIBUTES);
}

// A capture buffer whose thread ended before it began is made anew once the device has had its
// start delay: the take holds everything from then on, with no report.
TEST_F(WinRecorder, ABufferThatNeverMovesIsMadeAnewAndTheTakeGoesOn) {
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, capture);
  ASSERT_GE(WarmUpCapture(capture), 0) << "the device delivers nothing";
  WinTempDir dir;
  const std::string take = dir.File("take.wav");
  capture.armed = true;
  ASSERT_EQ(control.Init_DSWendrix(), True);
  if (capture.ended == 0) GTEST_SKIP() << "no capture thread of Wine's DirectSound to end here";
  ASSERT_EQ(control.Wendrix_Start(take), True);
  const double started = Now();
  TickFor(4.0);
  ASSERT_EQ(control.Wendrix_Stop(), True);
  const double recorded = Now() - started;

  EXPECT_EQ(container.message_boxes, std::vector<std::string>{});
  const Bytes file = *ReadAll(take);
  ASSERT_GE(file.size(), 46u);
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
  const double seconds = static_cast<double>(file.size() - 46) / 176400;
  std::printf("[ remade  ] %.3f s recorded, %.3f s in the file\n", recorded, seconds);
  // Lost: the second in which the first buffer did not move, and the new one's start delay.
  EXPECT_GT(seconds, recorded - 2.2);
  EXPECT_LT(seconds, recorded - 0.9);
  const auto tones = ExpectedTones();
  if (!tones) return;
  const ChannelStats left = Analyse(reinterpret_cast<const int16_t*>(file.data() + 46),
                                    (file.size() - 46) / 4, 0, 2, 44100);
  EXPECT_NEAR(left.peak_db, tones->first.peak_db(), 0.5);
}

// Two controls of one program, the second started on the file the first records into: refused
// at once (a wait for the holder to let go would hold the thread that ticks the first one),
// and the first take goes on whole.
TEST_F(WinRecorder, AFileAnotherControlRecordsIntoIsRefusedAtOnce) {
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, capture);
  WinTempDir dir;
  const std::string take = dir.File("take.wav");
  ASSERT_EQ(control.Init_DSWendrix(), True);
  ASSERT_EQ(control.Wendrix_Start(take), True);
  TickFor(5.0, [&] { return control.state().BytesRecorded > 0; });

  RecordingContainer other_container;
  win32::SurfaceState other_surface;
  win32::ElementsState other_elements;
  ManualTimer other_timer;
  Control other{
      Platform{other_container, other_surface, other_elements, other_timer, capture, files}};
  other.Initialize();
  other.InitProperties();
  other.put_Enabled(True);
  ASSERT_EQ(other.Init_DSWendrix(), True);
  EXPECT_EQ(other.Wendrix_Start(take), False);
  EXPECT_EQ(other_container.message_boxes,
            std::vector<std::string>{"Cannot create \"" + take +
                                     "\": Permission denied (another recording of this program "
                                     "is writing that file; give another name)"});
  TickFor(1.0);
  ASSERT_EQ(control.Wendrix_Stop(), True);
  EXPECT_EQ(container.message_boxes, std::vector<std::string>{});
  const Bytes file = *ReadAll(take);
  EXPECT_EQ(U32At(file, 42), file.size() - 46);
  EXPECT_GT(file.size(), 46u + 176400 / 2);
}

}  // namespace
}  // namespace wendrix::test
