// Where the control's reports go when no one can answer a box: a process on a window station
// that is not visible (a service, a task the Task Scheduler runs whether the user is logged on
// or not), or a box that cannot be shown at all. A box there would wait for ever on a desktop
// nobody sees, and the host's thread with it.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

// The event the reports are logged as; the module's message table gives its text ("%1", then
// the program's path) to an event viewer once the source is registered. Without the
// registration the viewer still shows both insertion strings.
inline constexpr DWORD kReportEventId = 1;
// One source per bitness: the source's key is one key for both registry views and names one
// message file, so each bitness registers (and its installer or unregistration removes) its
// own, naming its own module; removing one bitness never leaves the other's reports naming a
// deleted file.
#ifdef _WIN64
inline constexpr wchar_t kEventSource[] = L"Wendrix (64-bit)";
#else
inline constexpr wchar_t kEventSource[] = L"Wendrix (32-bit)";
#endif

// False when the process's window station is not visible (WSF_VISIBLE clear), or when the
// process runs in session 0, where only services run: since Windows 10 1803 nothing shows the
// desktop of an "interactive" service there to anyone. A station whose flags cannot be read
// counts as visible: the box is tried, and its failure falls back here.
bool WindowStationVisible() noexcept;

// Writes `text` to the Application event log (source "Wendrix (32-bit)" or
// "Wendrix (64-bit)", the module's bitness; an error event whose insertion
// strings are the text and the program's path) and to the debugger output, as one line that
// starts "Wendrix: ". Never fails visibly: there is no one left to tell.
void ReportUnattended(const wchar_t* text) noexcept;

}  // namespace wendrix::win32
