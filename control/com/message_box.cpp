// The control's message boxes, owned by the container's window.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/win32/message_box.h"

namespace wendrix::com {

void ControlObject::Site::MessageBox(const std::string& text) {
  win32::ShowMessageBox(text, owner_.OwnerWindow());
}

HWND ControlObject::OwnerWindow() {
  HWND owner = nullptr;
  if (frame_ && SUCCEEDED(frame_->GetWindow(&owner)) && owner) return owner;
  if (inplace_site_ && SUCCEEDED(inplace_site_->GetWindow(&owner)) && owner) return owner;
  return nullptr;
}

}  // namespace wendrix::com
