#include "platform/win32/message_box.h"

#include "platform/win32/text.h"
#include "platform/win32/unattended_report.h"

namespace wendrix::win32 {

void ShowMessageBox(const std::string& text, HWND owner) {
  std::wstring wide = Wide(text);
  // Where nobody can see a box, it would hold the host's thread for ever.
  if (!WindowStationVisible()) {
    ReportUnattended(wide.c_str());
    return;
  }
  const UINT style = MB_OK | (owner ? 0 : MB_TASKMODAL);
  if (MessageBoxW(owner, wide.c_str(), L"Wendrix", style) == 0) ReportUnattended(wide.c_str());
}

}  // namespace wendrix::win32
