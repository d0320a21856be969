// The control's modal message box: its text, an OK button and the caption "Wendrix".
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

// Shows the box owned by `owner` (the container's frame), or without one by the active window
// of this thread (if any), and returns when the user closes it. Throws Error when the box
// cannot be shown.
void ShowMessageBox(const std::string& text, HWND owner = nullptr);

}  // namespace wendrix::win32
