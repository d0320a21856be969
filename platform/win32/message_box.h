// The control's modal message box: its text, an OK button and the caption "Wendrix".
#pragma once

#include <string>

namespace wendrix::win32 {

// Shows the box owned by the active window of this thread (if any) and returns when the user
// closes it. Throws Error when the box cannot be shown.
void ShowMessageBox(const std::string& text);

}  // namespace wendrix::win32
