// DSWendrixControl as a COM object: one implementation object with one base per interface.
// Every entry converts its arguments once, calls the core Control, and turns what the core
// throws into an HRESULT with error information (boundary.h); nothing throws across it.
// Each interface family is implemented in the file named beside it below.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <bitset>
#include <memory>

#include "Wendrix_h.h"
#include "control/com/boundary.h"
#include "control/com/connection_point.h"
#include "control/com/window.h"
#include "control/control.h"
#include "platform/win32/dsound_capture.h"
#include "platform/win32/file_system.h"
#include "platform/win32/host_surface.h"
#include "platform/win32/window_timer.h"

namespace wendrix::com {

class ControlObject final : public _DSWendrixControl,
                            public IProvideClassInfo2,
                            public ISupportErrorInfo,
                            public IConnectionPointContainer,
                            public IPersistPropertyBag,
                            public IPersistStreamInit,
                            public IPersistStorage,
                            public IOleObject,
                            public IOleInPlaceObject,
                            public IOleInPlaceActiveObject,
                            public IOleControl,
                            public IViewObject2,
                            public IDataObject,
                            public IQuickActivate {
 public:
  // Creates a control and returns its interface `riid` (the class factory's CreateInstance).
  static HRESULT Create(REFIID riid, void** out);

  // IUnknown (control_object.cpp)
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch (dispatch.cpp): names, DISPIDs, argument counts and coercions are the type
  // library's.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

  // _DSWendrixControl (members.cpp)
  STDMETHODIMP Wendrix_Stop(VARIANT_BOOL* result) override;
  STDMETHODIMP get_Enabled(VARIANT_BOOL* value) override;
  STDMETHODIMP put_Enabled(VARIANT_BOOL value) override;
  STDMETHODIMP get_SamplesPerSecond(Samples* value) override;
  STDMETHODIMP put_SamplesPerSecond(Samples value) override;
  STDMETHODIMP get_NumChannels(channels* value) override;
  STDMETHODIMP put_NumChannels(channels value) override;
  STDMETHODIMP get_BitsPerSample(Bits* value) override;
  STDMETHODIMP put_BitsPerSample(Bits value) override;
  STDMETHODIMP Init_DSWendrix(VARIANT_BOOL* result) override;
  STDMETHODIMP UnInit_DSWendrix(VARIANT_BOOL* result) override;
  STDMETHODIMP get_BufferLength(LONG* value) override;
  STDMETHODIMP put_BufferLength(LONG value) override;
  STDMETHODIMP Wendrix_Start(BSTR* file_name, VARIANT_BOOL* result) override;
  STDMETHODIMP get_AutoCalculateBuff(VARIANT_BOOL* value) override;
  STDMETHODIMP put_AutoCalculateBuff(VARIANT_BOOL value) override;
  STDMETHODIMP get_BufferPosition(VARIANT* value) override;
  STDMETHODIMP put_BufferPosition(VARIANT value) override;
  STDMETHODIMP get_BackColor(OLE_COLOR* value) override;
  STDMETHODIMP put_BackColor(OLE_COLOR value) override;
  STDMETHODIMP get_BackStyle(BackStyle* value) override;
  STDMETHODIMP put_BackStyle(BackStyle value) override;
  STDMETHODIMP get_BorderStyle(BorderStyle* value) override;
  STDMETHODIMP put_BorderStyle(BorderStyle value) override;
  STDMETHODIMP get_ShowVU(VARIANT_BOOL* value) override;
  STDMETHODIMP put_ShowVU(VARIANT_BOOL value) override;
  STDMETHODIMP get_ShowVUScale(VARIANT_BOOL* value) override;
  STDMETHODIMP put_ShowVUScale(VARIANT_BOOL value) override;
  STDMETHODIMP get_dBLeft(VARIANT* value) override;
  STDMETHODIMP put_dBLeft(VARIANT value) override;
  STDMETHODIMP get_dBRight(VARIANT* value) override;
  STDMETHODIMP put_dBRight(VARIANT value) override;

  // IProvideClassInfo2 (dispatch.cpp)
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* out) override;

  // ISupportErrorInfo (dispatch.cpp)
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IConnectionPointContainer (events.cpp)
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

  // IPersist, IPersistPropertyBag, IPersistStreamInit, IPersistStorage (persist.cpp)
  STDMETHODIMP GetClassID(CLSID* out) override;
  STDMETHODIMP InitNew() override;  // IPersistPropertyBag and IPersistStreamInit
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;
  STDMETHODIMP IsDirty() override;  // IPersistStreamInit and IPersistStorage
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clear_dirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL same_as_load) override;
  STDMETHODIMP SaveCompleted(IStorage* storage) override;
  STDMETHODIMP HandsOffStorage() override;

  // IOleObject (ole_object.cpp): the client site (for the ambient properties) and what a
  // container asks first.
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** out) override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  STDMETHODIMP Close(DWORD save_option) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** out) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** out) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT rect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* out) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* out) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

  // IOleWindow (of IOleInPlaceObject and IOleInPlaceActiveObject; inplace.cpp): the control's
  // window.
  STDMETHODIMP GetWindow(HWND* out) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceObject (inplace.cpp)
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  // The container proposes a rectangle; the control keeps its own size and tells the site. Only
  // the part of the window inside `clip` shows.
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;

  // IOleInPlaceActiveObject (inplace.cpp): no accelerators, menus or tools of its own.
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // IOleControl (ole_control.cpp)
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* msg) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IViewObject2 (view.cpp): the face drawn into a container's device context.
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device,
                    HDC target_info, HDC dc, LPCRECTL bounds, LPCRECTL meta_bounds,
                    BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR), ULONG_PTR argument) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device,
                           HDC target_info, LOGPALETTE** out) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* cookie) override;
  STDMETHODIMP Unfreeze(DWORD cookie) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** out) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, SIZEL* size) override;

  // IDataObject (data_object.cpp): the face as a metafile picture, and the data sinks.
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
  STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                       DWORD* connection) override;
  STDMETHODIMP DUnadvise(DWORD connection) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA** out) override;

  // IQuickActivate (quick_activate.cpp): the site, the sinks and the extent in one call, with
  // the same outcome as the separate calls.
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  STDMETHODIMP SetContentExtent(LPSIZEL size) override;
  STDMETHODIMP GetContentExtent(LPSIZEL size) override;

 private:
  // The container services of the core, answered by this object: events and PropertyChanged
  // (events.cpp), the ambient user mode (ole_control.cpp), message boxes (message_box.cpp).
  class Site final : public Container {
   public:
    explicit Site(ControlObject& owner) : owner_(owner) {}
    void PropertyChanged(const std::string& name) override;
    bool AmbientUserMode() override;
    void RaiseEvent(Event event) override;
    void MessageBox(const std::string& text) override;

   private:
    ControlObject& owner_;
  };

  // Repaints what the core changed on the face, and holds the window to the surface's size
  // (view.cpp).
  class Face final : public win32::FaceObserver {
   public:
    explicit Face(ControlObject& owner) : owner_(owner) {}
    void SizeChanged() override;
    void AppearanceChanged() override;
    void ElementChanged(int element) override;

   private:
    ControlObject& owner_;
  };

  ControlObject();
  ~ControlObject();
  HRESULT Construct();

  IUnknown* Identity() { return static_cast<_DSWendrixControl*>(this); }
  // A control used before any persistence call (a script's CreateObject) takes the defaults
  // of a new control first.
  void EnsureInitialized();
  // Runs a member of the dual interface: keeps the object alive while it runs (an event
  // handler may release the caller's last reference) and reports what it throws.
  template <typename Body>
  HRESULT Call(Body&& body);
  template <typename T, typename Get>
  HRESULT Read(T* out, Get&& get);

  // In-place activation in the container's window; `ui` also makes the control UI-active
  // (inplace.cpp, with HeldRect and HoldSize).
  HRESULT Activate(IOleClientSite* site, HWND parent, LPCRECT position, bool ui);
  // The rectangle the control occupies: the proposed one's top-left with the surface's size.
  RECT HeldRect() const;
  // Moves the window to the held rectangle, clipped to the container's clip rectangle, and,
  // when the container proposed another one, tells the site the real one
  // (IOleInPlaceSite::OnPosRectChange); when the control resized itself, it also asks the
  // container to lay it out again (IOleClientSite::RequestNewObjectLayout).
  void HoldSize();
  // Takes the window's place in the container as the control's own: a container may have moved
  // the window itself (MoveWindow) instead of through SetObjectRects.
  void KeepPlace();
  // The window that owns the control's message boxes: the root ancestor of the control's window
  // (else of the container's frame or window), or null (message_box.cpp).
  HWND OwnerWindow();
  // The container's ambient property `id` as a `type` into `value`; false (and `value` empty)
  // when there is no site or it gives none (ole_control.cpp).
  bool Ambient(DISPID id, VARTYPE type, VARIANT* value);
  // The container says that its UI is dead: the control takes no clicks (ole_control.cpp).
  bool AmbientUIDead();
  // Gives the window the container's background colour, read anew (ole_control.cpp).
  void TakeAmbientBackColor();
  // Tells a container that draws the control itself that the face changed (view.cpp).
  void ViewChanged();
  // Repaints and tells the view of the elements changed since the last time (view.cpp).
  void TellFaceChanges();
  // The face at the control's extent into a new medium (data_object.cpp).
  HRESULT RenderMetafilePicture(STGMEDIUM* medium);
  HRESULT RenderEnhancedMetafile(STGMEDIUM* medium);
  // Tells the data sinks that the face changed (data_object.cpp).
  void DataChanged();
  // Tells the container's advise sinks that the control's state was saved (ole_object.cpp).
  void NotifySaved();
  // Lets go of the view's advise sink and the data sinks, which containers hand over and seldom
  // take back (ole_object.cpp).
  void ReleaseContainer();

  LONG refs_ = 1;
  bool initialized_ = false;
  bool dirty_ = false;
  bool destroying_ = false;
  Microsoft::WRL::ComPtr<ITypeLib> library_;
  Microsoft::WRL::ComPtr<ITypeInfo> dispatch_info_;  // the dispatch half of _DSWendrixControl
  Microsoft::WRL::ComPtr<ITypeInfo> vtable_info_;    // its vtable half, which Invoke calls
  Microsoft::WRL::ComPtr<IOleClientSite> client_site_;
  // While in-place active: the site, the frame and document windows, the proposed rectangle.
  Microsoft::WRL::ComPtr<IOleInPlaceSite> inplace_site_;
  Microsoft::WRL::ComPtr<IOleInPlaceFrame> frame_;
  Microsoft::WRL::ComPtr<IOleInPlaceUIWindow> document_;
  Microsoft::WRL::ComPtr<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0;
  DWORD view_flags_ = 0;
  RECT position_{};
  // The part of the container's window where the control may show, as the container gave it.
  RECT clip_{};
  bool clipped_ = false;
  bool ui_active_ = false;
  bool reporting_position_ = false;
  bool report_again_ = false;
  // The window's size since activation, and whether it changed by the control's own doing since
  // the container last heard of it (IOleClientSite::RequestNewObjectLayout).
  SIZE held_size_{};
  bool layout_changed_ = false;
  // FreezeEvents(TRUE) calls not yet balanced by FreezeEvents(FALSE): events are dropped while
  // there is one.
  LONG frozen_events_ = 0;
  // IOleObject::Advise's sinks (OnClose, OnSave, OnRename), made on the first Advise.
  Microsoft::WRL::ComPtr<IOleAdviseHolder> advise_holder_;
  // IDataObject::DAdvise's sinks, made on the first DAdvise. While a tick runs (data_batch_),
  // the changes of the face are told to them once, after it (data_pending_).
  Microsoft::WRL::ComPtr<IDataAdviseHolder> data_advise_holder_;
  int data_batch_ = 0;
  bool data_pending_ = false;
  // The elements the core changed during a tick, not yet repainted nor told (TellFaceChanges).
  std::bitset<kElementCount> face_changes_;
  ConnectionPoint events_;
  ConnectionPoint property_notify_;
  Site site_;
  Face face_;
  win32::SurfaceState surface_;
  win32::ElementsState elements_;
  win32::DsCaptureSystem capture_;
  win32::Win32FileSystem files_;
  std::unique_ptr<win32::WindowTimer> timer_;
  std::unique_ptr<ControlWindow> window_;
  // Last: the core goes first when the object is destroyed, while everything it uses remains.
  std::unique_ptr<Control> control_;
};

template <typename Body>
HRESULT ControlObject::Call(Body&& body) {
  Microsoft::WRL::ComPtr<IUnknown> keep(Identity());
  return Guard([&] {
    EnsureInitialized();
    body();
  });
}

template <typename T, typename Get>
HRESULT ControlObject::Read(T* out, Get&& get) {
  if (!out) return Refuse(E_POINTER);
  return Call([&] { *out = static_cast<T>(get()); });
}

}  // namespace wendrix::com
