// IOleObject: the client site, verbs, the extent and what a container asks first.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// 1830 x 510 twips in HIMETRIC units (1 twip = 2540/1440 HIMETRIC).
LONG TwipsToHimetric(float twips) { return static_cast<LONG>(twips * 2540.0f / 1440.0f + 0.5f); }

constexpr DWORD kMiscStatus = 131473;

}  // namespace

// ---------------------------------------------------------------------------------------------
// IOleObject

STDMETHODIMP ControlObject::SetClientSite(IOleClientSite* site) {
  if (!site) InPlaceDeactivate();
  client_site_ = site;
  return S_OK;
}

STDMETHODIMP ControlObject::GetClientSite(IOleClientSite** out) {
  if (!out) return E_POINTER;
  *out = client_site_.Get();
  if (*out) (*out)->AddRef();
  return S_OK;
}

STDMETHODIMP ControlObject::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }
STDMETHODIMP ControlObject::Close(DWORD) {
  InPlaceDeactivate();
  return S_OK;
}
STDMETHODIMP ControlObject::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP ControlObject::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP ControlObject::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP ControlObject::GetClipboardData(DWORD, IDataObject** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP ControlObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT rect) {
  ComPtr<IUnknown> keep(Identity());
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
      return Activate(site, parent, rect, true);
    case OLEIVERB_INPLACEACTIVATE:
      return Activate(site, parent, rect, false);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_) window_->Show(false);
      return S_OK;
    default:
      return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
  }
}

STDMETHODIMP ControlObject::EnumVerbs(IEnumOLEVERB** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP ControlObject::Update() { return S_OK; }
STDMETHODIMP ControlObject::IsUpToDate() { return S_OK; }
STDMETHODIMP ControlObject::GetUserClassID(CLSID* out) { return GetClassID(out); }
STDMETHODIMP ControlObject::GetUserType(DWORD form, LPOLESTR* out) {
  return OleRegGetUserType(CLSID_DSWendrixControl, form, out);
}

// The control keeps its own size: any extent asked for gives way to it (the resize rule), and
// the container reads the real one with GetExtent.
STDMETHODIMP ControlObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  return Call([&] { control_->Resize(); });
}

STDMETHODIMP ControlObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  size->cx = TwipsToHimetric(surface_.Width());
  size->cy = TwipsToHimetric(surface_.Height());
  return S_OK;
}

STDMETHODIMP ControlObject::Advise(IAdviseSink*, DWORD* connection) {
  if (connection) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}
STDMETHODIMP ControlObject::Unadvise(DWORD) { return OLE_E_NOCONNECTION; }
STDMETHODIMP ControlObject::EnumAdvise(IEnumSTATDATA** out) {
  if (out) *out = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP ControlObject::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

STDMETHODIMP ControlObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace wendrix::com
