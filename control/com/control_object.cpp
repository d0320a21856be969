// DSWendrixControl: creation, identity and the QueryInterface table. Its interfaces are
// implemented in files named after them (see control_object.h).
#include "control/com/control_object.h"

#include <new>
#include <utility>

#include "control/com/module.h"
#include "control/com/object_count.h"
#include "platform/stage_clock.h"

namespace wendrix::com {
namespace {

// The QueryInterface table: each interface and how to reach it from the object.
using Cast = void* (*)(ControlObject*);
struct InterfaceEntry {
  const IID* iid;
  Cast cast;
};
template <typename I>
void* As(ControlObject* o) {
  return static_cast<I*>(o);
}
const InterfaceEntry kInterfaces[] = {
    {&IID_IUnknown, &As<_DSWendrixControl>},
    {&IID_IDispatch, &As<_DSWendrixControl>},
    {&IID__DSWendrixControl, &As<_DSWendrixControl>},
    {&IID_IProvideClassInfo, &As<IProvideClassInfo2>},
    {&IID_IProvideClassInfo2, &As<IProvideClassInfo2>},
    {&IID_ISupportErrorInfo, &As<ISupportErrorInfo>},
    {&IID_IConnectionPointContainer, &As<IConnectionPointContainer>},
    {&IID_IPersist, &As<IPersistPropertyBag>},
    {&IID_IPersistPropertyBag, &As<IPersistPropertyBag>},
    {&IID_IPersistStreamInit, &As<IPersistStreamInit>},
    // IPersistStream's methods are the first ones of IPersistStreamInit.
    {&IID_IPersistStream, &As<IPersistStreamInit>},
    {&IID_IPersistStorage, &As<IPersistStorage>},
    {&IID_IOleObject, &As<IOleObject>},
    {&IID_IOleWindow, &As<IOleInPlaceObject>},
    {&IID_IOleInPlaceObject, &As<IOleInPlaceObject>},
    {&IID_IOleInPlaceActiveObject, &As<IOleInPlaceActiveObject>},
    {&IID_IOleControl, &As<IOleControl>},
    {&IID_IViewObject, &As<IViewObject2>},
    {&IID_IViewObject2, &As<IViewObject2>},
    {&IID_IDataObject, &As<IDataObject>},
    {&IID_IQuickActivate, &As<IQuickActivate>},
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation and identity

ControlObject::ControlObject()
    : events_(this, DIID___DSWendrixControl),
      property_notify_(this, IID_IPropertyNotifySink),
      site_(*this),
      face_(*this) {
  ObjectCreated();
}

ControlObject::~ControlObject() {
  destroying_ = true;
  control_.reset();
  profile::WriteStageTable();
  surface_.SetObserver(nullptr);
  elements_.SetObserver(nullptr);
  if (timer_) timer_->UseWindow(nullptr);
  window_.reset();
  timer_.reset();
  events_.Clear();
  property_notify_.Clear();
  ObjectDestroyed();
}

HRESULT ControlObject::Create(REFIID riid, void** out) {
  auto* object = new (std::nothrow) ControlObject();
  if (!object) return E_OUTOFMEMORY;
  HRESULT hr = object->Construct();
  if (SUCCEEDED(hr)) hr = object->QueryInterface(riid, out);
  object->Release();
  return hr;
}

HRESULT ControlObject::Construct() {
  std::wstring path;
  HRESULT hr = Guard([&] { path = ModulePath(); });
  if (SUCCEEDED(hr)) hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library_);
  if (FAILED(hr)) return hr;
  hr = library_->GetTypeInfoOfGuid(IID__DSWendrixControl, &dispatch_info_);
  if (FAILED(hr)) return hr;
  HREFTYPE half = 0;
  hr = dispatch_info_->GetRefTypeOfImplType(-1, &half);
  if (SUCCEEDED(hr)) hr = dispatch_info_->GetRefTypeInfo(half, &vtable_info_);
  if (FAILED(hr)) return hr;
  surface_.SetObserver(&face_);
  elements_.SetObserver(&face_);
  return Guard([&] {
    timer_ = std::make_unique<win32::WindowTimer>([this] {
      // A tick may light many LEDs: the window, the view's sink and the data sinks, which may
      // draw a picture for each change, hear of them once (the data sinks when the outermost
      // tick is over).
      profile::Scope tick(profile::kTick);
      Microsoft::WRL::ComPtr<IUnknown> keep(Identity());
      ++data_batch_;
      Call([&] { control_->Timer1_Timer(); });
      profile::Scope notice(profile::kFaceNotice);
      TellFaceChanges();
      if (--data_batch_ == 0 && std::exchange(data_pending_, false)) DataChanged();
    });
    control_ =
        std::make_unique<Control>(Platform{site_, surface_, elements_, *timer_, capture_, files_});
    control_->Initialize();
  });
}

STDMETHODIMP ControlObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  for (const InterfaceEntry& e : kInterfaces) {
    if (riid == *e.iid) {
      *out = e.cast(this);
      AddRef();
      return S_OK;
    }
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ControlObject::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) ControlObject::Release() {
  ULONG n = InterlockedDecrement(&refs_);
  if (n == 0) {
    // Whatever runs during destruction may take and drop references; none may delete again.
    refs_ = 1 << 28;
    delete this;
  }
  return n;
}

void ControlObject::EnsureInitialized() {
  if (initialized_) return;
  initialized_ = true;
  control_->InitProperties();
}

}  // namespace wendrix::com
