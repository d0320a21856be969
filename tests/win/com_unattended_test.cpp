// A process on a window station nobody sees (a service, a task run whether the user is logged
// on or not): the control shows no box there, which would hold the host's thread for ever, but
// logs its reports and writes them to the debugger output, and every method returns as it would
// after the box was answered.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

// The lines written to the debugger output, as a debugger sees them: Windows raises
// DBG_PRINTEXCEPTION_C for each on the writing thread, where a vectored handler sees it first.
std::vector<std::string> g_lines;

LONG CALLBACK SeeDebugOutput(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD& r = *e->ExceptionRecord;
  if (r.ExceptionCode == DBG_PRINTEXCEPTION_C && r.NumberParameters >= 2)
    g_lines.emplace_back(reinterpret_cast<const char*>(r.ExceptionInformation[1]));
  return EXCEPTION_CONTINUE_SEARCH;
}

size_t LinesStarting(const std::string& start) {
  size_t n = 0;
  for (const std::string& line : g_lines) n += line.rfind(start, 0) == 0;
  return n;
}

TEST(Unattended, AStallCostsNothingAndARefusedStartReachesTheDebuggerOutputWithoutABox) {
  // The process's window station made not visible, and visible again at the end.
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS saved{}, hidden{};
  DWORD needed = 0;
  ASSERT_TRUE(GetUserObjectInformationW(station, UOI_FLAGS, &saved, sizeof saved, &needed));
  hidden.dwFlags = saved.dwFlags & ~WSF_VISIBLE;
  ASSERT_TRUE(SetUserObjectInformationW(station, UOI_FLAGS, &hidden, sizeof hidden));
  PVOID handler = AddVectoredExceptionHandler(1, SeeDebugOutput);
  // Any box shown all the same is counted and answered: a failure, not a hang.
  std::atomic<bool> stop{false};
  std::atomic<int> boxes{0};
  std::thread watch([&] {
    for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      if (HWND box = FindOwnBox()) ++boxes, PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  });

  ComPtr<IDispatch> control = CreateControl();
  Var yes = Var::Bool(true), no = Var::Bool(false), ring = Var::I4(176400);  // a 1 s ring
  Call(control.Get(), L"Enabled", {&yes}, DISPATCH_PROPERTYPUT);
  Call(control.Get(), L"AutoCalculateBuff", {&no}, DISPATCH_PROPERTYPUT);
  Call(control.Get(), L"BufferLength", {&ring}, DISPATCH_PROPERTYPUT);
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring file = std::wstring(folder) + L"wendrix-unattended.wav";
  Var path = Var::Str(file.c_str());
  if (Call(control.Get(), L"Init_DSWendrix")) {
    EXPECT_TRUE(Call(control.Get(), L"Wendrix_Start", {&path}));
    PumpFor(1500);
    // The host holds its thread for longer than the ring lasts: the control saves what the ring
    // would write over, so nothing is lost and nothing is reported.
    Sleep(2600);
    PumpFor(1000);
    EXPECT_TRUE(Call(control.Get(), L"Wendrix_Stop"));
    EXPECT_EQ(LinesStarting("Wendrix: private update wendrix Error: "), 0u) << "a report";
    const size_t before = LinesStarting("Wendrix: ");
    Var nowhere = Var::Str(L"Z:\\nonexistent-wendrix-folder\\take.wav");
    EXPECT_FALSE(Call(control.Get(), L"Wendrix_Start", {&nowhere}));
    EXPECT_EQ(LinesStarting("Wendrix: "), before + 1) << "the refused start was not reported";
    Call(control.Get(), L"UnInit_DSWendrix");
  }
  EXPECT_EQ(ReleaseLast(control), 0u);
  DeleteFileW(file.c_str());
  stop = true;
  watch.join();
  RemoveVectoredExceptionHandler(handler);
  SetUserObjectInformationW(station, UOI_FLAGS, &saved, sizeof saved);
  EXPECT_EQ(boxes, 0) << "a box was shown on a window station nobody sees";
  if (g_lines.empty()) GTEST_SKIP() << "no recording device";
}

}  // namespace
}  // namespace wendrix::com_test
