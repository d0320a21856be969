// IOleObject: the client site, verbs, the extent, what a container asks first, and the
// container's advise sinks (OnClose, OnSave, OnRename) kept by OLE's advise holder.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <utility>

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// 1830 x 510 twips in HIMETRIC units (1 twip = 2540/1440 HIMETRIC).
LONG TwipsToHimetric(float twips) { return static_cast<LONG>(twips * 2540.0f / 1440.0f + 0.5f); }

// As registered (registration.cpp): OLEMISC_NOUIACTIVATE keeps a container from UI-activating
// the control and focusing its window on a click, since it has no focus cue and takes no keys.
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_NOUIACTIVATE | OLEMISC_SETCLIENTSITEFIRST;
static_assert(kMiscStatus == 147857);

}  // namespace

// ---------------------------------------------------------------------------------------------
// IOleObject

// A container takes its site back (SetClientSite(NULL)) as it lets the control go: every
// pointer into the container goes with it, so that no cycle through a sink keeps the control
// (and a running recording) alive after the container's last Release.
STDMETHODIMP ControlObject::SetClientSite(IOleClientSite* site) {
  ComPtr<IUnknown> keep(Identity());
  if (site) {
    client_site_ = site;
    return S_OK;
  }
  InPlaceDeactivate();
  ReleaseContainer();
  // Cleared before it is released: its Release may call back in.
  ComPtr<IOleClientSite> gone = std::move(client_site_);
  return S_OK;
}

void ControlObject::ReleaseContainer() {
  ComPtr<IAdviseSink> view_sink = std::move(view_sink_);
  view_aspects_ = view_flags_ = 0;
  ComPtr<IDataAdviseHolder> data_sinks = std::move(data_advise_holder_);
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
  // As ATL's controls do: the view's sink (and the data sinks) are let go; the OnClose sinks
  // stay until the container unadvises them.
  ReleaseContainer();
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
// The primary verb, OLEIVERB_SHOW and OLEIVERB_INPLACEACTIVATE activate the control in place
// without making it UI-active (it takes no keyboard input, so the form's active control stays
// where it was); only OLEIVERB_UIACTIVATE makes it UI-active. An unknown positive verb runs the
// primary verb and says that it did (OLEOBJ_S_INVALIDVERB), as ATL's and MFC's controls do.
STDMETHODIMP ControlObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT rect) {
  ComPtr<IUnknown> keep(Identity());
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
      return Activate(site, parent, rect, false);
    case OLEIVERB_UIACTIVATE:
      return Activate(site, parent, rect, true);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_) window_->Show(false);
      return S_OK;
    default:
      if (verb < 0) return E_NOTIMPL;
      HRESULT hr = Activate(site, parent, rect, false);
      return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
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

// The control keeps its own size: its own extent is taken (the resize rule runs), any other is
// refused with E_FAIL, as a fixed-size object answers, so that a designer that draws the control
// inactive neither stretches its face nor saves a size it will not have.
STDMETHODIMP ControlObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  SIZEL own{};
  GetExtent(aspect, &own);
  if (size->cx != own.cx || size->cy != own.cy) return E_FAIL;
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
