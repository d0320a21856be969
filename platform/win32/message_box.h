// The control's modal message box: its text, an OK button and the caption "Wendrix".
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

// Shows the box owned by `owner` (the container's top-level window) and returns when the user
// closes it. Without an owner the box is task-modal: every top-level window of this thread is
// disabled while it shows (the active window may be none when the host is in the background,
// and a box it owned would block nothing). Where no box can be answered (a window station that
// is not visible) or the box cannot be shown, the text goes to the event log and the debugger
// output instead (unattended_report.h) and this returns at once, as if the box were answered.
// Throws only std::bad_alloc.
void ShowMessageBox(const std::string& text, HWND owner = nullptr);

}  // namespace wendrix::win32
