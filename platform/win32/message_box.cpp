#include "platform/win32/message_box.h"

#include "platform/error.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {

void ShowMessageBox(const std::string& text, HWND owner) {
  std::wstring wide = Wide(text);
  const UINT style = MB_OK | (owner ? 0 : MB_TASKMODAL);
  if (MessageBoxW(owner, wide.c_str(), L"Wendrix", style) == 0)
    throw Error::Platform(LastErrorHResult(), "MessageBox");
}

}  // namespace wendrix::win32
