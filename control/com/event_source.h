// The event source of this bitness ("Wendrix (32-bit)", "Wendrix (64-bit)") of the Application log,
// where the control's reports go in a session nobody sees (platform/win32/unattended_report.h). It
// belongs to the machine-wide registration: the key lives under HKLM\SYSTEM, which has one view for
// both bitnesses, and names the module whose message table an event viewer reads the events' text
// from.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::com {

// Writes HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source> with
// EventMessageFile = `module` and TypesSupported = error, warning and information.
HRESULT RegisterReportSource(const std::wstring& module);
// Removes that key when it names `module` (another copy of this bitness registered since keeps
// its source), and when it is already gone does nothing.
HRESULT UnregisterReportSource(const std::wstring& module);

}  // namespace wendrix::com
