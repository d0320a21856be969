// The site of one control on the host's form, as a form container provides it: the client site,
// the in-place site and frame, the control site, the ambient properties (user mode: running),
// and the sinks for the control's property notifications and its events.
#pragma once

#include <functional>
#include <string>

#include "host/automation.h"

namespace wendrix::host {

class FormSite final : public IOleClientSite,
                       public IOleInPlaceSite,
                       public IOleInPlaceFrame,
                       public IOleControlSite,
                       public IDispatch,
                       public IPropertyNotifySink {
 public:
  // `form` is the window the control lives in; `rect` its place there, in pixels.
  FormSite(HWND form, const RECT& rect);

  // Called with the name of every property the control reports as changed.
  std::function<void(DISPID)> on_property_changed;
  // Called when the control asks for another rectangle (it keeps its own size).
  std::function<void(const RECT&)> on_rect_changed;
  const RECT& rect() const { return rect_; }
  // The in-place object, once the control is active, to pass rectangles to.
  void SetInPlaceObject(ComPtr<IOleInPlaceObject> object) { in_place_ = std::move(object); }
  bool in_place_active() const { return in_place_active_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** out) override;
  STDMETHODIMP GetContainer(IOleContainer** out) override;
  STDMETHODIMP ShowObject() override;
  STDMETHODIMP OnShowWindow(BOOL show) override;
  STDMETHODIMP RequestNewObjectLayout() override;

  // IOleWindow (of the in-place site and of the frame: both are the form)
  STDMETHODIMP GetWindow(HWND* out) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override;
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE extent) override;
  STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override;
  STDMETHODIMP DeactivateAndUndo() override;
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override;

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no menus, toolbars or borders to share.
  STDMETHODIMP GetBorder(LPRECT border) override;
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
  STDMETHODIMP InsertMenus(HMENU menu, LPOLEMENUGROUPWIDTHS widths) override;
  STDMETHODIMP SetMenu(HMENU menu, HOLEMENU shared, HWND object) override;
  STDMETHODIMP RemoveMenus(HMENU menu) override;
  STDMETHODIMP SetStatusText(LPCOLESTR text) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg, WORD id) override;

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override;
  STDMETHODIMP LockInPlaceActive(BOOL lock) override;
  STDMETHODIMP GetExtendedControl(IDispatch** out) override;
  STDMETHODIMP TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg, DWORD modifiers) override;
  STDMETHODIMP OnFocus(BOOL got) override;
  STDMETHODIMP ShowPropertyFrame() override;

  // IDispatch: the ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

  // IPropertyNotifySink
  STDMETHODIMP OnChanged(DISPID id) override;
  STDMETHODIMP OnRequestEdit(DISPID id) override;

 private:
  ~FormSite() = default;
  LONG refs_ = 1;
  HWND form_;
  RECT rect_;
  bool in_place_active_ = false;
  ComPtr<IOleInPlaceObject> in_place_;
};

// The sink of the control's events (its default source dispinterface): Invoke with the event's
// DISPID, no arguments.
class EventSink final : public IDispatch {
 public:
  EventSink(IID events, std::function<void(DISPID)> on_event)
      : events_(events), on_event_(std::move(on_event)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

 private:
  ~EventSink() = default;
  LONG refs_ = 1;
  IID events_;
  std::function<void(DISPID)> on_event_;
};

// A connection to one of the control's connection points, undone when it goes.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { Disconnect(); }
  // Advises `sink` on the control's connection point for `iid`.
  void Connect(IUnknown* control, REFIID iid, IUnknown* sink, const char* what);
  void Disconnect();

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace wendrix::host
