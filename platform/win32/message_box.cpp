#include "platform/win32/message_box.h"

#include "platform/error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {

void ShowMessageBox(const std::string& text) {
  std::wstring wide = Wide(text);
  if (MessageBoxW(GetActiveWindow(), wide.c_str(), L"Wendrix", MB_OK) == 0)
    throw Error::Platform(HRESULT_FROM_WIN32(GetLastError()), "MessageBox");
}

}  // namespace wendrix::win32
