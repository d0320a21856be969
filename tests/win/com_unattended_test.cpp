// A process on a window station nobody sees (a service, a task run whether the user is logged
// on or not): the control shows no box there, which would hold the host's thread for ever, but
// logs its reports and writes them to the debugger output, and every method returns as it would
// after the box was answered.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

// The process's window station made not visible for as long as it lives (the flag is the
// station's, so it is put back).
class InvisibleStation {
 public:
  InvisibleStation() {
    DWORD needed = 0;
    ok_ = GetUserObjectInformationW(station_, UOI_FLAGS, &saved_, sizeof saved_, &needed);
    USEROBJECTFLAGS hidden = saved_;
    hidden.dwFlags &= ~WSF_VISIBLE;
    ok_ = ok_ && SetUserObjectInformationW(station_, UOI_FLAGS, &hidden, sizeof hidden);
  }
  ~InvisibleStation() {
    if (ok_) SetUserObjectInformationW(station_, UOI_FLAGS, &saved_, sizeof saved_);
  }
  bool ok() const { return ok_; }

 private:
  HWINSTA station_ = GetProcessWindowStation();
  USEROBJECTFLAGS saved_{};
  bool ok_ = false;
};

// The lines this process writes to the debugger output, as a debugger sees them: Windows
// raises DBG_PRINTEXCEPTION_C for each, which a vectored handler sees first.
std::mutex g_lines_mutex;
std::vector<std::string> g_lines;

LONG CALLBACK SeeDebugOutput(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD& r = *e->ExceptionRecord;
  if (r.ExceptionCode == DBG_PRINTEXCEPTION_C && r.NumberParameters >= 2) {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    g_lines.emplace_back(reinterpret_cast<const char*>(r.ExceptionInformation[1]));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

size_t LinesStarting(const std::string& start) {
  std::lock_guard<std::mutex> lock(g_lines_mutex);
  size_t n = 0;
  for (const std::string& line : g_lines) n += line.rfind(start, 0) == 0;
  return n;
}

void PumpFor(int ms) {
  const ULONGLONG until = GetTickCount64() + ms;
  while (GetTickCount64() < until) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

bool Call(IDispatch* control, const wchar_t* name, std::vector<VARIANT*> args = {}) {
  Outcome out;
  InvokeByName(control, name, DISPATCH_METHOD, std::move(args), out);
  EXPECT_HRESULT_SUCCEEDED(out.hr) << "raised by " << std::string(name, name + wcslen(name));
  return V_VT(&out.result.v) == VT_BOOL && V_BOOL(&out.result.v) == VARIANT_TRUE;
}

void Put(IDispatch* control, const wchar_t* name, Var value) {
  Outcome out;
  InvokeByName(control, name, DISPATCH_PROPERTYPUT, {&value}, out);
  ASSERT_HRESULT_SUCCEEDED(out.hr);
}

// Any box of this process is found, counted and answered: a failure, not a hang.
class BoxCounter {
 public:
  BoxCounter()
      : thread_([this] {
          while (!stop_) {
            if (HWND box = FindOwnBox()) {
              ++boxes_;
              PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
        }) {}
  ~BoxCounter() {
    stop_ = true;
    thread_.join();
  }
  int boxes() const { return boxes_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> boxes_{0};
  std::thread thread_;
};

TEST(Unattended, ALossAndARefusedStartReachTheDebuggerOutputWithoutABox) {
  InvisibleStation station;
  ASSERT_TRUE(station.ok()) << "the window station's flags cannot be set: " << GetLastError();
  struct Handler {
    PVOID h = AddVectoredExceptionHandler(1, SeeDebugOutput);
    ~Handler() { RemoveVectoredExceptionHandler(h); }
  } handler;
  BoxCounter counter;

  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  Put(control.Get(), L"Enabled", Var::Bool(true));
  Put(control.Get(), L"AutoCalculateBuff", Var::Bool(false));
  Put(control.Get(), L"BufferLength", Var::I4(176400));  // a one-second ring
  if (!Call(control.Get(), L"Init_DSWendrix")) GTEST_SKIP() << "no recording device";
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring file = std::wstring(folder) + L"wendrix-unattended.wav";
  Var path = Var::Str(file.c_str());
  ASSERT_TRUE(Call(control.Get(), L"Wendrix_Start", {&path}));
  PumpFor(1500);
  Sleep(2600);  // the host holds its thread for longer than the ring lasts
  PumpFor(1000);
  EXPECT_TRUE(Call(control.Get(), L"Wendrix_Stop"));
  EXPECT_GE(LinesStarting("Wendrix: private update wendrix Error: "), 1u)
      << "no report of the lost audio";
  const size_t before = LinesStarting("Wendrix: ");
  Var nowhere = Var::Str(L"Z:\\nonexistent-wendrix-folder\\take.wav");
  EXPECT_FALSE(Call(control.Get(), L"Wendrix_Start", {&nowhere}));
  EXPECT_EQ(LinesStarting("Wendrix: "), before + 1) << "the refused start was not reported";
  Call(control.Get(), L"UnInit_DSWendrix");
  EXPECT_EQ(ReleaseLast(control), 0u);
  DeleteFileW(file.c_str());
  EXPECT_EQ(counter.boxes(), 0) << "a box was shown on a window station nobody sees";
}

}  // namespace
}  // namespace wendrix::com_test
