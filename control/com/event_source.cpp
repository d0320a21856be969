#include "control/com/event_source.h"

#include "platform/win32/unattended_report.h"

namespace wendrix::com {
namespace {

std::wstring SourceKey() {
  return std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") +
         win32::kEventSource;
}

}  // namespace

HRESULT RegisterReportSource(const std::wstring& module) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SourceKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  const auto bytes = static_cast<DWORD>((module.size() + 1) * sizeof(wchar_t));
  rc = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                      reinterpret_cast<const BYTE*>(module.c_str()), bytes);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                        sizeof types);
  }
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(rc);
}

HRESULT UnregisterReportSource(const std::wstring& module) {
  wchar_t named[MAX_PATH * 2] = L"";
  DWORD size = sizeof named - sizeof(wchar_t);
  LONG rc =
      RegGetValueW(HKEY_LOCAL_MACHINE, SourceKey().c_str(), L"EventMessageFile",
                   RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, named, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc == ERROR_SUCCESS && _wcsicmp(named, module.c_str()) != 0) return S_OK;
  rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, SourceKey().c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

}  // namespace wendrix::com
