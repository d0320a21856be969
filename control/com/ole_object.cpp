// IOleObject: the client site, verbs, the extent, what a container asks first, and the
// container's advise sinks (OnClose, OnSave, OnRename) kept by OLE's advise holder.
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

// A changed control asked to save on closing is saved by its container (a control has no
// prompt of its own); then the advise sinks hear that it closed.
STDMETHODIMP ControlObject::Close(DWORD save_option) {
  ComPtr<IUnknown> keep(Identity());
  InPlaceDeactivate();
  if ((save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE) && dirty_ &&
      client_site_)
    client_site_->SaveObject();
  if (advise_holder_) advise_holder_->SendOnClose();
  return S_OK;
}

// The sinks hear the control's full moniker, which the container knows best.
STDMETHODIMP ControlObject::SetMoniker(DWORD which, IMoniker* moniker) {
  if (!moniker) return E_INVALIDARG;
  ComPtr<IMoniker> full;
  if (which == OLEWHICHMK_OBJFULL)
    full = moniker;
  else if (client_site_)
    client_site_->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &full);
  if (full && advise_holder_) advise_holder_->SendOnRename(full.Get());
  return S_OK;
}

STDMETHODIMP ControlObject::GetMoniker(DWORD assign, DWORD which, IMoniker** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!client_site_) return E_UNEXPECTED;
  return client_site_->GetMoniker(assign, which, out);
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

// The verbs are the registered ones (registration.cpp): the container reads them there.
STDMETHODIMP ControlObject::EnumVerbs(IEnumOLEVERB** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return OLE_S_USEREG;
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

STDMETHODIMP ControlObject::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!connection) return E_POINTER;
  *connection = 0;
  if (!sink) return E_INVALIDARG;
  if (!advise_holder_) {
    HRESULT hr = CreateOleAdviseHolder(&advise_holder_);
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, connection);
}

STDMETHODIMP ControlObject::Unadvise(DWORD connection) {
  if (!advise_holder_) return OLE_E_NOCONNECTION;
  return advise_holder_->Unadvise(connection);
}

// Before the first Advise there is nothing to enumerate: no enumerator, S_FALSE.
STDMETHODIMP ControlObject::EnumAdvise(IEnumSTATDATA** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!advise_holder_) return S_FALSE;
  return advise_holder_->EnumAdvise(out);
}

void ControlObject::NotifySaved() {
  if (advise_holder_) advise_holder_->SendOnSave();
}

STDMETHODIMP ControlObject::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

STDMETHODIMP ControlObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace wendrix::com
