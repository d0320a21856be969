// IOleControl and the ambient properties the control reads from its site.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>
#include <optional>

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

// The control asks for the ambient user mode when it needs it; the background is read again
// when the container names it or says that any may have changed (DISPID_UNKNOWN); a change of
// the container's colours or font may alter the face (system colours, the caption's font).
STDMETHODIMP ControlObject::OnAmbientPropertyChange(DISPID id) {
  ComPtr<IUnknown> keep(Identity());
  if (id == DISPID_AMBIENT_BACKCOLOR || id == DISPID_UNKNOWN) TakeAmbientBackColor();
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

bool ControlObject::Ambient(DISPID id, VARTYPE type, VARIANT* value) {
  VariantInit(value);
  ComPtr<IDispatch> ambient;
  if (!client_site_ || FAILED(client_site_.As(&ambient))) return false;
  DISPPARAMS none{};
  HRESULT hr = ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               value, nullptr, nullptr);
  if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(value, value, 0, type))) return true;
  VariantClear(value);
  return false;
}

bool ControlObject::Site::AmbientUserMode() {
  // Without a site, or when the container does not answer, the control is in a running program.
  VARIANT value;
  if (!owner_.Ambient(DISPID_AMBIENT_USERMODE, VT_BOOL, &value)) return true;
  return V_BOOL(&value) != VARIANT_FALSE;
}

bool ControlObject::AmbientUIDead() {
  VARIANT value;
  return Ambient(DISPID_AMBIENT_UIDEAD, VT_BOOL, &value) && V_BOOL(&value) != VARIANT_FALSE;
}

// A transparent face shows the container's background: its ambient BackColor where it gives
// one, else the system's button face (the colour of a form). An OLE colour comes as a Long or
// as an unsigned one; a system colour (&H8000000F) is negative as a Long.
void ControlObject::TakeAmbientBackColor() {
  if (!window_) return;
  VARIANT value;
  std::optional<uint32_t> colour;
  if (Ambient(DISPID_AMBIENT_BACKCOLOR, VT_UI4, &value))
    colour = V_UI4(&value);
  else if (Ambient(DISPID_AMBIENT_BACKCOLOR, VT_I4, &value))
    colour = static_cast<uint32_t>(V_I4(&value));
  window_->SetBackground(colour);
}

}  // namespace wendrix::com
