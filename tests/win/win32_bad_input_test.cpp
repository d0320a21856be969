// Failures of the Windows calls that must never pass for success or touch the wrong file.
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/error.h"
#include "platform/win32/file_system.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"
#include "platform/win32/window_timer.h"
#include "tests/win/win32_test_support.h"

namespace wendrix::test {
namespace {

// A window whose creation its own procedure refuses: CreateWindowEx fails and sets no error.
LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) return FALSE;
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(WinErrors, AFailureWithoutALastErrorIsStillAFailure) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &RefuseCreation;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"WendrixRefusedWindow";
  ASSERT_NE(RegisterClassExW(&wc), 0);
  SetLastError(ERROR_SUCCESS);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  EXPECT_EQ(window, nullptr);
  const DWORD error = GetLastError();
  const HRESULT hr = win32::LastErrorHResult();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(hr, error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error));
  UnregisterClassW(wc.lpszClassName, wc.hInstance);

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(win32::LastErrorHResult(), E_FAIL);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(win32::LastErrorHResult(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
}

// A name with an unpaired surrogate or a NUL would reach the file system as another name (the
// surrogate replaced, the NUL ending it): no file is made, under that name or any other.
TEST(WinFiles, ANameThatCannotBePassedExactlyCreatesNothing) {
  WinTempDir dir;
  win32::Win32FileSystem fs;
  const std::wstring folder = win32::Wide(dir.path()) + L"\\";
  const std::wstring names[] = {folder + L"take\xD800.wav", folder + L"take\xDC00x.wav",
                                folder + std::wstring(L"take.wav\0.txt", 13)};
  for (const std::wstring& name : names) {
    const std::string path = win32::Narrow(name);
    for (int call = 0; call < 3; ++call) {
      SCOPED_TRACE(call);
      try {
        if (call == 2) {
          fs.FullPath(path);  // the start's resolution of the name refuses it first
        } else if (call == 1) {
          fs.OpenBinaryFile(path, {});
        } else {
          fs.OpenOutputFile(path);
        }
        ADD_FAILURE() << "opened";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::BadFileName) << e.description();
        const bool nul = name.find(L'\0') != std::wstring::npos;
        EXPECT_NE(e.description().find(nul ? "NUL" : "unpaired UTF-16 surrogate"),
                  std::string::npos)
            << e.description();
      }
    }
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  int entries = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) ++entries;
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(entries, 0);

  // A valid name outside the Basic Multilingual Plane (a surrogate pair) is taken as it is.
  const std::string pair = win32::Narrow(folder + L"take\xD83C\xDFB5.wav");
  EXPECT_EQ(fs.OpenOutputFile(pair)->Close(), kFileOk);
  EXPECT_NE(GetFileAttributesW(win32::Wide(pair).c_str()), INVALID_FILE_ATTRIBUTES);
}

// A tick whose handler throws is a tick lost, on the timer's own window and on a host's: the
// exception never unwinds into the system's frames (that would end the process).
TEST(WinTimer, ATickThatThrowsIsLostNotTheProcess) {
  int ticks = 0;
  win32::WindowTimer timer([&] { throw std::runtime_error(std::to_string(++ticks)); });
  timer.SetInterval(10);
  timer.SetEnabled(true);
  HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  for (HWND window : {static_cast<HWND>(nullptr), host}) {
    timer.UseWindow(window);
    ticks = 0;
    for (const double until = Now() + 3; ticks < 3 && Now() < until;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
    }
    EXPECT_GE(ticks, 3) << (window ? "on the host's window" : "on its own window");
  }
  timer.UseWindow(nullptr);
  DestroyWindow(host);
}

}  // namespace
}  // namespace wendrix::test
