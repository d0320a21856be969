// DSWendrixControl as a COM object: one implementation object with one base per interface.
// Every entry converts its arguments once, calls the core Control, and turns what the core
// throws into an HRESULT with error information (boundary.h); nothing throws across it.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <memory>

#include "Wendrix_h.h"
#include "control/com/connection_point.h"
#include "control/control.h"
#include "platform/win32/host_surface.h"
#include "platform/win32/unavailable.h"
#include "platform/win32/window_timer.h"

namespace wendrix::com {

class ControlObject final : public _DSWendrixControl,
                            public IProvideClassInfo2,
                            public ISupportErrorInfo,
                            public IConnectionPointContainer,
                            public IPersistPropertyBag,
                            public IPersistStreamInit,
                            public IPersistStorage,
                            public IOleObject {
 public:
  // Creates a control and returns its interface `riid` (the class factory's CreateInstance).
  static HRESULT Create(REFIID riid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch: names, DISPIDs, argument counts and coercions are the type library's.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

  // _DSWendrixControl
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

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* out) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

  // IPersist, IPersistPropertyBag, IPersistStreamInit, IPersistStorage
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

  // IOleObject: the client site (for the ambient properties) and what a container asks first.
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

 private:
  // The container services of the core, answered by this object.
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

  LONG refs_ = 1;
  bool initialized_ = false;
  bool dirty_ = false;
  bool destroying_ = false;
  Microsoft::WRL::ComPtr<ITypeLib> library_;
  Microsoft::WRL::ComPtr<ITypeInfo> dispatch_info_;  // the dispatch half of _DSWendrixControl
  Microsoft::WRL::ComPtr<ITypeInfo> vtable_info_;    // its vtable half, which Invoke calls
  Microsoft::WRL::ComPtr<IOleClientSite> client_site_;
  ConnectionPoint events_;
  ConnectionPoint property_notify_;
  Site site_;
  win32::SurfaceState surface_;
  win32::ElementsState elements_;
  win32::UnavailableCapture capture_;
  win32::UnavailableFiles files_;
  std::unique_ptr<win32::WindowTimer> timer_;
  // Last: the core goes first when the object is destroyed, while everything it uses remains.
  std::unique_ptr<Control> control_;
};

}  // namespace wendrix::com
