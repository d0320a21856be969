#include "platform/win32/unattended_report.h"

namespace wendrix::win32 {

bool WindowStationVisible() noexcept {
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return false;
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
    return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ReportUnattended(const wchar_t* text) noexcept {
  wchar_t program[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  // One line for a debugger or a DebugView, named for whoever reads several programs' output.
  try {
    OutputDebugStringW((L"Wendrix: " + std::wstring(text) + L"\r\n").c_str());
  } catch (...) {
    OutputDebugStringW(text);
  }
  // An unregistered source still logs: the viewer then shows the strings without the template.
  if (HANDLE log = RegisterEventSourceW(nullptr, kEventSource)) {
    const wchar_t* strings[] = {text, program};
    ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, kReportEventId, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(log);
  }
}

}  // namespace wendrix::win32
