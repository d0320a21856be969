// The control's message boxes, owned by the container's window. While one is up the container's
// own modeless windows are disabled through its frame, as for any modal box of a control.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/win32/message_box.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// EnableModeless(FALSE) on the frame for as long as it lives, TRUE again after, also when the
// box fails. The frame is held: the control may be deactivated while its box is up.
class ModelessDisabled {
 public:
  explicit ModelessDisabled(IOleInPlaceFrame* frame) : frame_(frame) {
    if (frame_) frame_->EnableModeless(FALSE);
  }
  ~ModelessDisabled() {
    if (frame_) frame_->EnableModeless(TRUE);
  }
  ModelessDisabled(const ModelessDisabled&) = delete;
  ModelessDisabled& operator=(const ModelessDisabled&) = delete;

 private:
  ComPtr<IOleInPlaceFrame> frame_;
};

}  // namespace

void ControlObject::Site::MessageBox(const std::string& text) {
  ModelessDisabled modal(owner_.frame_.Get());
  win32::ShowMessageBox(text, owner_.OwnerWindow());
}

HWND ControlObject::OwnerWindow() {
  HWND owner = nullptr;
  if (frame_ && SUCCEEDED(frame_->GetWindow(&owner)) && owner) return owner;
  if (inplace_site_ && SUCCEEDED(inplace_site_->GetWindow(&owner)) && owner) return owner;
  return nullptr;
}

}  // namespace wendrix::com
