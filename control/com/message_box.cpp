// The control's message boxes, owned by the top-level window of the container it sits in. While one
// is up the container's own modeless windows are disabled through its frame, as for any modal box
// of a control.
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
  owner_.TellFaceChanges();
  ModelessDisabled modal(owner_.frame_.Get());
  win32::ShowMessageBox(text, owner_.OwnerWindow());
}

HWND ControlObject::OwnerWindow() {
  // The top-level window the control sits in: a box owned by a child window would neither
  // disable the form nor come to the front with it.
  HWND owner = window_ ? window_->handle() : nullptr;
  if (!owner && frame_ && FAILED(frame_->GetWindow(&owner))) owner = nullptr;
  if (!owner && inplace_site_ && FAILED(inplace_site_->GetWindow(&owner))) owner = nullptr;
  return owner ? GetAncestor(owner, GA_ROOT) : nullptr;
}

}  // namespace wendrix::com
