// IOleControl and the ambient properties the control reads from its site.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// IOleControl

STDMETHODIMP ControlObject::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  // No mnemonics: the control takes no keyboard input.
  info->cb = sizeof *info;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP ControlObject::OnMnemonic(MSG*) { return E_NOTIMPL; }

// The control asks for the ambient user mode when it needs it; a change of the container's
// colours or font may alter the face (system colours, the caption's font).
STDMETHODIMP ControlObject::OnAmbientPropertyChange(DISPID) {
  if (window_) window_->Invalidate(-1);
  return S_OK;
}

// Counted as containers nest them; the events raised while any freeze is held are dropped
// (events.cpp). An unfreeze without a freeze leaves the count at zero.
STDMETHODIMP ControlObject::FreezeEvents(BOOL freeze) {
  if (freeze)
    ++frozen_events_;
  else if (frozen_events_ > 0)
    --frozen_events_;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Ambient properties

bool ControlObject::Site::AmbientUserMode() {
  // Without a site, or when the container does not answer, the control is in a running program.
  ComPtr<IDispatch> ambient;
  if (!owner_.client_site_ || FAILED(owner_.client_site_.As(&ambient))) return true;
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  bool user_mode = true;
  if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BOOL)))
    user_mode = V_BOOL(&value) != VARIANT_FALSE;
  VariantClear(&value);
  return user_mode;
}

}  // namespace wendrix::com
