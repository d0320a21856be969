#include "host/form_site.h"

namespace wendrix::host {

FormSite::FormSite(HWND form, const RECT& rect) : form_(form), rect_(rect) {}

STDMETHODIMP FormSite::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite)
    *out = static_cast<IOleClientSite*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
    *out = static_cast<IOleInPlaceSite*>(this);
  else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
    *out = static_cast<IOleInPlaceFrame*>(this);
  else if (riid == IID_IOleControlSite)
    *out = static_cast<IOleControlSite*>(this);
  else if (riid == IID_IDispatch)
    *out = static_cast<IDispatch*>(this);
  else if (riid == IID_IPropertyNotifySink)
    *out = static_cast<IPropertyNotifySink*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FormSite::AddRef() { return InterlockedIncrement(&refs_); }
STDMETHODIMP_(ULONG) FormSite::Release() {
  ULONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

// --- IOleClientSite -------------------------------------------------------------------------

STDMETHODIMP FormSite::SaveObject() { return S_OK; }
STDMETHODIMP FormSite::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP FormSite::GetContainer(IOleContainer** out) {
  if (out) *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP FormSite::ShowObject() { return S_OK; }
STDMETHODIMP FormSite::OnShowWindow(BOOL) { return S_OK; }
STDMETHODIMP FormSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// --- IOleWindow, IOleInPlaceSite ------------------------------------------------------------

STDMETHODIMP FormSite::GetWindow(HWND* out) {
  if (!out) return E_POINTER;
  *out = form_;
  return S_OK;
}
STDMETHODIMP FormSite::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }
STDMETHODIMP FormSite::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP FormSite::OnInPlaceActivate() {
  in_place_active_ = true;
  return S_OK;
}
STDMETHODIMP FormSite::OnUIActivate() { return S_OK; }

STDMETHODIMP FormSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                        LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  if (frame) *frame = nullptr;
  if (document) *document = nullptr;
  if (!frame || !position || !clip || !info) return E_POINTER;
  *frame = this;
  AddRef();
  *position = rect_;
  GetClientRect(form_, clip);
  info->fMDIApp = FALSE;
  info->hwndFrame = form_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP FormSite::Scroll(SIZE) { return E_NOTIMPL; }
STDMETHODIMP FormSite::OnUIDeactivate(BOOL) { return S_OK; }
STDMETHODIMP FormSite::OnInPlaceDeactivate() {
  in_place_active_ = false;
  in_place_.Reset();
  return S_OK;
}
STDMETHODIMP FormSite::DiscardUndoState() { return S_OK; }
STDMETHODIMP FormSite::DeactivateAndUndo() { return S_OK; }

// The control asks for its own size: the form gives it that rectangle and says so.
STDMETHODIMP FormSite::OnPosRectChange(LPCRECT rect) {
  if (!rect) return E_POINTER;
  rect_ = *rect;
  if (in_place_) {
    RECT clip;
    GetClientRect(form_, &clip);
    in_place_->SetObjectRects(&rect_, &clip);
  }
  if (on_rect_changed) on_rect_changed(rect_);
  return S_OK;
}

// --- IOleInPlaceUIWindow, IOleInPlaceFrame --------------------------------------------------

STDMETHODIMP FormSite::GetBorder(LPRECT) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP FormSite::RequestBorderSpace(LPCBORDERWIDTHS) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP FormSite::SetBorderSpace(LPCBORDERWIDTHS) { return S_OK; }
STDMETHODIMP FormSite::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
STDMETHODIMP FormSite::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return S_OK; }
STDMETHODIMP FormSite::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }
STDMETHODIMP FormSite::RemoveMenus(HMENU) { return S_OK; }
STDMETHODIMP FormSite::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP FormSite::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP FormSite::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }

// --- IOleControlSite ------------------------------------------------------------------------

STDMETHODIMP FormSite::OnControlInfoChanged() { return S_OK; }
STDMETHODIMP FormSite::LockInPlaceActive(BOOL) { return S_OK; }
STDMETHODIMP FormSite::GetExtendedControl(IDispatch** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

// The form's own units are pixels.
STDMETHODIMP FormSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) {
  if (!himetric || !container) return E_POINTER;
  HDC dc = GetDC(form_);
  const int dpi_x = GetDeviceCaps(dc, LOGPIXELSX), dpi_y = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(form_, dc);
  if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
    container->x = static_cast<float>(himetric->x) * dpi_x / 2540.0f;
    container->y = static_cast<float>(himetric->y) * dpi_y / 2540.0f;
  } else if (flags & XFORMCOORDS_CONTAINERTOHIMETRIC) {
    himetric->x = static_cast<LONG>(container->x * 2540.0f / dpi_x + 0.5f);
    himetric->y = static_cast<LONG>(container->y * 2540.0f / dpi_y + 0.5f);
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

STDMETHODIMP FormSite::TranslateAccelerator(LPMSG, DWORD) { return S_FALSE; }
STDMETHODIMP FormSite::OnFocus(BOOL) { return S_OK; }
STDMETHODIMP FormSite::ShowPropertyFrame() { return E_NOTIMPL; }

// --- IDispatch: ambient properties ----------------------------------------------------------

STDMETHODIMP FormSite::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
STDMETHODIMP FormSite::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP FormSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

// A running form: user mode, no design-time grab handles or hatching; the form's colours and
// locale. Ambients a form does not know are "member not found", so the control takes its own.
STDMETHODIMP FormSite::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS*,
                              VARIANT* result, EXCEPINFO*, UINT*) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
  if (!result) return E_POINTER;
  VariantInit(result);
  auto boolean = [&](bool b) {
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = b ? VARIANT_TRUE : VARIANT_FALSE;
  };
  auto color = [&](int system) {
    V_VT(result) = VT_I4;
    V_I4(result) = static_cast<LONG>(0x80000000u | static_cast<unsigned>(system));
  };
  switch (id) {
    case DISPID_AMBIENT_USERMODE:
      boolean(true);
      break;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_MESSAGEREFLECT:
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
      boolean(false);
      break;
    case DISPID_AMBIENT_AUTOCLIP:
      boolean(true);
      break;
    case DISPID_AMBIENT_BACKCOLOR:
      color(COLOR_BTNFACE);
      break;
    case DISPID_AMBIENT_FORECOLOR:
      color(COLOR_BTNTEXT);
      break;
    case DISPID_AMBIENT_LOCALEID:
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(GetUserDefaultLCID());
      break;
    case DISPID_AMBIENT_DISPLAYNAME:
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = SysAllocString(L"Wendrix1");
      break;
    case DISPID_AMBIENT_APPEARANCE:  // 3-D
      V_VT(result) = VT_I2;
      V_I2(result) = 1;
      break;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  return S_OK;
}

// --- IPropertyNotifySink --------------------------------------------------------------------

STDMETHODIMP FormSite::OnChanged(DISPID id) {
  if (on_property_changed) on_property_changed(id);
  return S_OK;
}
STDMETHODIMP FormSite::OnRequestEdit(DISPID) { return S_OK; }

// --- EventSink ------------------------------------------------------------------------------

STDMETHODIMP EventSink::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events_) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) EventSink::AddRef() { return InterlockedIncrement(&refs_); }
STDMETHODIMP_(ULONG) EventSink::Release() {
  ULONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}
STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; ids && i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}
STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                               EXCEPINFO*, UINT*) {
  if (result) VariantInit(result);
  if (on_event_) on_event_(id);
  return S_OK;
}

// --- Connection -----------------------------------------------------------------------------

void Connection::Connect(IUnknown* control, REFIID iid, IUnknown* sink, const char* what) {
  Disconnect();
  ComPtr<IConnectionPointContainer> container;
  Check(control->QueryInterface(IID_PPV_ARGS(&container)),
        std::string("IConnectionPointContainer (") + what + ")");
  Check(container->FindConnectionPoint(iid, &point_), std::string("FindConnectionPoint ") + what);
  HRESULT hr = point_->Advise(sink, &cookie_);
  if (FAILED(hr)) {
    point_.Reset();
    Check(hr, std::string("Advise ") + what);
  }
}

void Connection::Disconnect() {
  if (!point_) return;
  ComPtr<IConnectionPoint> point = std::move(point_);
  point->Unadvise(cookie_);
  cookie_ = 0;
}

}  // namespace wendrix::host
