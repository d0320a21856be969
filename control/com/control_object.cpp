#include "control/com/control_object.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>

#include "control/com/boundary.h"
#include "control/com/module.h"
#include "control/com/object_count.h"
#include "control/com/persistence.h"
#include "control/elements.h"
#include "platform/win32/message_box.h"
#include "platform/win32/text.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// The DISPIDs of the persisted properties, for IPropertyNotifySink::OnChanged.
struct PropertyId {
  std::string_view name;
  DISPID id;
};
constexpr PropertyId kPropertyIds[] = {
    {"Enabled", 0x6803000D},        {"SamplesPerSecond", 0x6803000C},
    {"NumChannels", 0x6803000B},    {"BitsPerSample", 0x6803000A},
    {"BufferLength", 0x68030009},   {"AutoCalculateBuff", 0x68030008},
    {"BufferPosition", 0x68030007}, {"BackColor", 0x68030006},
    {"BackStyle", 0x68030005},      {"BorderStyle", 0x68030004},
    {"ShowVU", 0x68030003},         {"ShowVUScale", 0x68030002},
    {"dBLeft", 0x68030001},         {"dBRight", 0x68030000},
};

DISPID PropertyDispId(const std::string& name) {
  for (const PropertyId& p : kPropertyIds)
    if (p.name == name) return p.id;
  return DISPID_UNKNOWN;
}

// 1830 x 510 twips in HIMETRIC units (1 twip = 2540/1440 HIMETRIC).
LONG TwipsToHimetric(float twips) { return static_cast<LONG>(twips * 2540.0f / 1440.0f + 0.5f); }

constexpr DWORD kMiscStatus = 131473;
constexpr DISPID kWendrixStartId = 0x6003001C;

// A value put into a property that refuses every put: an argument the core cannot hold still
// reaches the put, which reports the refusal.
Variant LenientValue(const VARIANT& v) {
  try {
    return FromVariant(v);
  } catch (const Error&) {
    return Variant();
  }
}

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
  std::wstring path = ModulePath();
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library_);
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
    timer_ =
        std::make_unique<win32::WindowTimer>([this] { Call([&] { control_->Timer1_Timer(); }); });
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

template <typename Body>
HRESULT ControlObject::Call(Body&& body) {
  ComPtr<IUnknown> keep(Identity());
  return Guard([&] {
    EnsureInitialized();
    body();
  });
}

template <typename T, typename Get>
HRESULT ControlObject::Read(T* out, Get&& get) {
  if (!out) return E_POINTER;
  return Call([&] { *out = static_cast<T>(get()); });
}

// ---------------------------------------------------------------------------------------------
// The container services the core calls

void ControlObject::Site::PropertyChanged(const std::string& name) {
  if (owner_.destroying_) return;
  owner_.dirty_ = true;
  owner_.property_notify_.NotifyChanged(PropertyDispId(name));
}

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

void ControlObject::Site::RaiseEvent(Event event) {
  // A sink's failure is its own: the other sinks still hear the event, and the operation that
  // raised it goes on.
  if (!owner_.destroying_) owner_.events_.Fire(static_cast<DISPID>(event));
}

void ControlObject::Site::MessageBox(const std::string& text) {
  win32::ShowMessageBox(text, owner_.OwnerWindow());
}

void ControlObject::Face::SizeChanged() {
  if (owner_.destroying_) return;
  if (owner_.window_) {
    owner_.HoldSize();
    owner_.window_->Invalidate(-1);
  } else if (owner_.client_site_) {
    // A container that has not activated the control asks for its extent again.
    owner_.client_site_->RequestNewObjectLayout();
  }
  owner_.ViewChanged();
}

void ControlObject::Face::AppearanceChanged() {
  if (owner_.destroying_) return;
  if (owner_.window_) owner_.window_->Invalidate(-1);
  owner_.ViewChanged();
}

void ControlObject::Face::ElementChanged(int element) {
  if (owner_.destroying_) return;
  if (owner_.window_) owner_.window_->Invalidate(element);
  owner_.ViewChanged();
}

HWND ControlObject::OwnerWindow() {
  HWND owner = nullptr;
  if (frame_ && SUCCEEDED(frame_->GetWindow(&owner)) && owner) return owner;
  if (inplace_site_ && SUCCEEDED(inplace_site_->GetWindow(&owner)) && owner) return owner;
  return nullptr;
}

void ControlObject::ViewChanged() {
  if (view_sink_ && (view_aspects_ & DVASPECT_CONTENT))
    view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
}

// ---------------------------------------------------------------------------------------------
// IDispatch

STDMETHODIMP ControlObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP ControlObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *out = dispatch_info_.Get();
  (*out)->AddRef();
  return S_OK;
}

STDMETHODIMP ControlObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return vtable_info_->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP ControlObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ComPtr<IUnknown> keep(Identity());
  // A script engine passes a variable by reference as a Variant; Wendrix_Start takes the String
  // it holds (by reference, and leaves it as it is) instead of failing with a type mismatch.
  DISPPARAMS script_params;
  VARIANT file_name;
  if (id == kWendrixStartId && params && params->cArgs == 1 && params->rgvarg &&
      V_VT(&params->rgvarg[0]) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&params->rgvarg[0]) &&
      V_VT(V_VARIANTREF(&params->rgvarg[0])) == VT_BSTR) {
    VariantInit(&file_name);
    V_VT(&file_name) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&file_name) = &V_BSTR(V_VARIANTREF(&params->rgvarg[0]));
    script_params = *params;
    script_params.rgvarg = &file_name;
    params = &script_params;
  }
  HRESULT hr = vtable_info_->Invoke(static_cast<_DSWendrixControl*>(this), id, flags, params,
                                    result, exception, arg_error);
  // A failed call hands back no value (the type library's Invoke copies the unset result).
  if (FAILED(hr) && result) VariantClear(result);
  // An OLE_COLOR comes back as a Long, as hosts expect colours (script engines cannot use an
  // unsigned Long; system colours are the negative Longs &H80000000 + index).
  if (SUCCEEDED(hr) && result && V_VT(result) == VT_UI4) {
    LONG color = static_cast<LONG>(V_UI4(result));
    V_VT(result) = VT_I4;
    V_I4(result) = color;
  }
  return hr;
}

// ---------------------------------------------------------------------------------------------
// _DSWendrixControl

STDMETHODIMP ControlObject::Wendrix_Stop(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->Wendrix_Stop(); });
}
STDMETHODIMP ControlObject::get_Enabled(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_Enabled(); });
}
STDMETHODIMP ControlObject::put_Enabled(VARIANT_BOOL value) {
  return Call([&] { control_->put_Enabled(value); });
}
STDMETHODIMP ControlObject::get_SamplesPerSecond(Samples* value) {
  return Read(value, [&] { return control_->get_SamplesPerSecond(); });
}
STDMETHODIMP ControlObject::put_SamplesPerSecond(Samples value) {
  return Call([&] { control_->put_SamplesPerSecond(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_NumChannels(channels* value) {
  return Read(value, [&] { return control_->get_NumChannels(); });
}
STDMETHODIMP ControlObject::put_NumChannels(channels value) {
  return Call([&] { control_->put_NumChannels(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_BitsPerSample(Bits* value) {
  return Read(value, [&] { return control_->get_BitsPerSample(); });
}
STDMETHODIMP ControlObject::put_BitsPerSample(Bits value) {
  return Call([&] { control_->put_BitsPerSample(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::Init_DSWendrix(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->Init_DSWendrix(); });
}
STDMETHODIMP ControlObject::UnInit_DSWendrix(VARIANT_BOOL* result) {
  return Read(result, [&] { return control_->UnInit_DSWendrix(); });
}
STDMETHODIMP ControlObject::get_BufferLength(LONG* value) {
  return Read(value, [&] { return control_->get_BufferLength(); });
}
STDMETHODIMP ControlObject::put_BufferLength(LONG value) {
  return Call([&] { control_->put_BufferLength(value); });
}
// The caller's string is read, never written: it keeps its text whatever happens.
STDMETHODIMP ControlObject::Wendrix_Start(BSTR* file_name, VARIANT_BOOL* result) {
  if (!file_name || !result) return E_POINTER;
  return Call([&] { *result = control_->Wendrix_Start(win32::NarrowBstr(*file_name)); });
}
STDMETHODIMP ControlObject::get_AutoCalculateBuff(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_AutoCalculateBuff(); });
}
STDMETHODIMP ControlObject::put_AutoCalculateBuff(VARIANT_BOOL value) {
  return Call([&] { control_->put_AutoCalculateBuff(value); });
}
STDMETHODIMP ControlObject::get_BufferPosition(VARIANT* value) {
  if (!value) return E_POINTER;
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_BufferPosition(), value); });
}
STDMETHODIMP ControlObject::put_BufferPosition(VARIANT value) {
  return Call([&] { control_->put_BufferPosition(LenientValue(value)); });
}
STDMETHODIMP ControlObject::get_BackColor(OLE_COLOR* value) {
  return Read(value, [&] { return control_->get_BackColor(); });
}
STDMETHODIMP ControlObject::put_BackColor(OLE_COLOR value) {
  return Call([&] { control_->put_BackColor(value); });
}
STDMETHODIMP ControlObject::get_BackStyle(BackStyle* value) {
  return Read(value, [&] { return control_->get_BackStyle(); });
}
STDMETHODIMP ControlObject::put_BackStyle(BackStyle value) {
  return Call([&] { control_->put_BackStyle(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_BorderStyle(BorderStyle* value) {
  return Read(value, [&] { return control_->get_BorderStyle(); });
}
STDMETHODIMP ControlObject::put_BorderStyle(BorderStyle value) {
  return Call([&] { control_->put_BorderStyle(static_cast<int32_t>(value)); });
}
STDMETHODIMP ControlObject::get_ShowVU(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_ShowVU(); });
}
STDMETHODIMP ControlObject::put_ShowVU(VARIANT_BOOL value) {
  return Call([&] { control_->put_ShowVU(value); });
}
STDMETHODIMP ControlObject::get_ShowVUScale(VARIANT_BOOL* value) {
  return Read(value, [&] { return control_->get_ShowVUScale(); });
}
STDMETHODIMP ControlObject::put_ShowVUScale(VARIANT_BOOL value) {
  return Call([&] { control_->put_ShowVUScale(value); });
}
STDMETHODIMP ControlObject::get_dBLeft(VARIANT* value) {
  if (!value) return E_POINTER;
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_dBLeft(), value); });
}
STDMETHODIMP ControlObject::put_dBLeft(VARIANT value) {
  return Call([&] { control_->put_dBLeft(LenientValue(value)); });
}
STDMETHODIMP ControlObject::get_dBRight(VARIANT* value) {
  if (!value) return E_POINTER;
  VariantInit(value);
  return Call([&] { ToVariant(control_->get_dBRight(), value); });
}
STDMETHODIMP ControlObject::put_dBRight(VARIANT value) {
  return Call([&] { control_->put_dBRight(LenientValue(value)); });
}

// ---------------------------------------------------------------------------------------------
// IProvideClassInfo2, ISupportErrorInfo, IConnectionPointContainer

STDMETHODIMP ControlObject::GetClassInfo(ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return library_->GetTypeInfoOfGuid(CLSID_DSWendrixControl, out);
}

STDMETHODIMP ControlObject::GetGUID(DWORD kind, GUID* out) {
  if (!out) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *out = GUID_NULL;
    return E_INVALIDARG;
  }
  *out = DIID___DSWendrixControl;
  return S_OK;
}

STDMETHODIMP ControlObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID__DSWendrixControl || riid == IID_IDispatch ? S_OK : S_FALSE;
}

STDMETHODIMP ControlObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return CreateConnectionPointEnumerator({&events_, &property_notify_}, out);
}

STDMETHODIMP ControlObject::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == DIID___DSWendrixControl)
    *out = &events_;
  else if (riid == IID_IPropertyNotifySink)
    *out = &property_notify_;
  else
    return CONNECT_E_NOCONNECTION;
  (*out)->AddRef();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Persistence: InitNew runs InitProperties, Load ReadProperties, Save WriteProperties.

STDMETHODIMP ControlObject::GetClassID(CLSID* out) {
  if (!out) return E_POINTER;
  *out = CLSID_DSWendrixControl;
  return S_OK;
}

STDMETHODIMP ControlObject::InitNew() {
  ComPtr<IUnknown> keep(Identity());
  initialized_ = true;
  dirty_ = false;
  return Guard([&] { control_->InitProperties(); });
}

STDMETHODIMP ControlObject::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  ComPtr<IUnknown> keep(Identity());
  // A failed restore keeps what was read before the failure, as the core leaves it.
  initialized_ = true;
  dirty_ = false;
  return Guard([&] {
    HostPropertyBag host(bag, log);
    control_->ReadProperties(host);
  });
}

STDMETHODIMP ControlObject::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (!bag) return E_POINTER;
  HRESULT hr = Call([&] {
    HostPropertyBag host(bag, nullptr);
    control_->WriteProperties(host);
  });
  if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
  return hr;
}

STDMETHODIMP ControlObject::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

STDMETHODIMP ControlObject::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  ComPtr<IUnknown> keep(Identity());
  initialized_ = true;
  dirty_ = false;
  return Guard([&] {
    MemoryBag saved = ReadBag(stream);
    control_->ReadProperties(saved);
  });
}

STDMETHODIMP ControlObject::Save(IStream* stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  HRESULT hr = Call([&] {
    MemoryBag values;
    control_->WriteProperties(values);
    WriteBag(stream, values);
  });
  if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
  return hr;
}

STDMETHODIMP ControlObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  return Call([&] {
    MemoryBag values;
    control_->WriteProperties(values);
    size->QuadPart = SerializeBag(values).size();
  });
}

STDMETHODIMP ControlObject::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  return InitNew();
}

STDMETHODIMP ControlObject::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr =
      storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
  if (FAILED(hr)) return hr;
  return Load(stream.Get());
}

STDMETHODIMP ControlObject::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->CreateStream(
      kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
  if (FAILED(hr)) return hr;
  return Save(stream.Get(), TRUE);
}

STDMETHODIMP ControlObject::SaveCompleted(IStorage*) { return S_OK; }
STDMETHODIMP ControlObject::HandsOffStorage() { return S_OK; }

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

HRESULT ControlObject::Activate(IOleClientSite* site, HWND parent, LPCRECT position, bool ui) {
  if (!window_) {
    ComPtr<IOleClientSite> client = site ? site : client_site_.Get();
    if (!client) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> inplace;
    if (FAILED(client.As(&inplace))) return E_NOINTERFACE;
    if (inplace->CanInPlaceActivate() != S_OK) return E_FAIL;
    HRESULT hr = inplace->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    HWND container = nullptr;
    if (FAILED(inplace->GetWindow(&container)) || !container) container = parent;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT proposed{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    if (FAILED(inplace->GetWindowContext(&frame, &document, &proposed, &clip, &info))) {
      frame.Reset();
      document.Reset();
    }
    if (position) proposed = *position;
    HRESULT created = Guard([&] { EnsureInitialized(); });
    auto window = std::make_unique<ControlWindow>(surface_, elements_, [this](int element) {
      if (element == element::LEDOverflowLeft)
        Call([&] { control_->LEDOverflowLeft_Click(); });
      else if (element == element::LEDOverflowRight)
        Call([&] { control_->LEDOverflowRight_Click(); });
    });
    if (SUCCEEDED(created)) created = window->Create(container, proposed);
    if (FAILED(created)) {
      inplace->OnInPlaceDeactivate();
      return created;
    }
    inplace_site_ = inplace;
    frame_ = frame;
    document_ = document;
    position_ = proposed;
    window_ = std::move(window);
    // Ticks come through the control's own window while it has one.
    if (timer_) timer_->UseWindow(window_->handle());
    HoldSize();
    window_->Show(true);
  }
  window_->Show(true);
  if (ui && !ui_active_ && inplace_site_) {
    ui_active_ = true;
    inplace_site_->OnUIActivate();
    auto* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (frame_) frame_->SetActiveObject(active, nullptr);
    if (document_) document_->SetActiveObject(active, nullptr);
  }
  return S_OK;
}

RECT ControlObject::HeldRect() const {
  FaceScale scale = window_ ? window_->scale() : FaceScale{};
  SIZE size = FaceSize(scale, const_cast<win32::SurfaceState&>(surface_));
  return RECT{position_.left, position_.top, position_.left + size.cx, position_.top + size.cy};
}

void ControlObject::HoldSize() {
  if (!window_) return;
  RECT held = HeldRect();
  window_->Move(held);
  if (EqualRect(&held, &position_)) return;
  position_ = held;
  if (!inplace_site_) return;
  // The container answers with SetObjectRects for the real rectangle, which then fits. Should
  // the size change again while it answers, the latest rectangle is told once it returns; a
  // container that keeps proposing other sizes is told a few times, not for ever.
  if (reporting_position_) {
    report_again_ = true;
    return;
  }
  reporting_position_ = true;
  for (int round = 0; round < 4; ++round) {
    report_again_ = false;
    RECT told = position_;
    inplace_site_->OnPosRectChange(&told);
    if (!report_again_ || !inplace_site_) break;
  }
  reporting_position_ = false;
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

namespace wendrix::com {

// ---------------------------------------------------------------------------------------------
// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP ControlObject::GetWindow(HWND* out) {
  if (!out) return E_POINTER;
  *out = window_ ? window_->handle() : nullptr;
  return *out ? S_OK : E_FAIL;
}

STDMETHODIMP ControlObject::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP ControlObject::InPlaceDeactivate() {
  if (!window_) return S_OK;
  ComPtr<IUnknown> keep(Identity());
  UIDeactivate();
  // Cleared before they are released: the site may call back while it hears of it.
  std::unique_ptr<ControlWindow> window = std::move(window_);
  ComPtr<IOleInPlaceSite> site = std::move(inplace_site_);
  frame_.Reset();
  document_.Reset();
  if (timer_) timer_->UseWindow(nullptr);
  window.reset();
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP ControlObject::UIDeactivate() {
  if (!ui_active_) return S_OK;
  ComPtr<IUnknown> keep(Identity());
  ui_active_ = false;
  if (document_) document_->SetActiveObject(nullptr, nullptr);
  if (frame_) frame_->SetActiveObject(nullptr, nullptr);
  if (inplace_site_) inplace_site_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP ControlObject::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  ComPtr<IUnknown> keep(Identity());
  position_ = *position;
  HRESULT hr = Call([&] { control_->Resize(); });
  HoldSize();
  return hr;
}

STDMETHODIMP ControlObject::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

STDMETHODIMP ControlObject::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP ControlObject::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP ControlObject::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP ControlObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP ControlObject::EnableModeless(BOOL) { return S_OK; }

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

// Counted as containers nest them; events are still raised while frozen, the container decides
// what to do with them.
STDMETHODIMP ControlObject::FreezeEvents(BOOL freeze) {
  if (freeze)
    ++frozen_events_;
  else if (frozen_events_ > 0)
    --frozen_events_;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IViewObject2

STDMETHODIMP ControlObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                 LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                 ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc) return E_INVALIDARG;
  ComPtr<IUnknown> keep(Identity());
  HRESULT hr = Guard([&] { EnsureInitialized(); });
  if (FAILED(hr)) return hr;
  RECT area;
  FaceScale scale;
  if (bounds) {
    // The face fills the bounds the container gives, whatever their scale.
    area = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
    scale.x_num = area.right - area.left;
    scale.x_den = std::max(1, static_cast<int>(surface_.Width()));
    scale.y_num = area.bottom - area.top;
    scale.y_den = std::max(1, static_cast<int>(surface_.Height()));
  } else if (window_) {
    // Bounds may be left out only while active: the face goes where the window is.
    scale = window_->scale();
    area = HeldRect();
  } else {
    return E_INVALIDARG;
  }
  DrawFace(dc, area, scale, surface_, elements_);
  return S_OK;
}

STDMETHODIMP ControlObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                        LOGPALETTE** out) {
  if (out) *out = nullptr;
  return S_FALSE;  // no palette of its own
}

STDMETHODIMP ControlObject::Freeze(DWORD, LONG, void*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return E_NOTIMPL;
}

STDMETHODIMP ControlObject::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP ControlObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  view_aspects_ = aspects;
  view_flags_ = flags;
  view_sink_ = sink;
  return S_OK;
}

STDMETHODIMP ControlObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** out) {
  if (aspects) *aspects = view_aspects_;
  if (flags) *flags = view_flags_;
  if (out) {
    *out = view_sink_.Get();
    if (*out) (*out)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP ControlObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, SIZEL* size) {
  return GetExtent(aspect, size);
}

}  // namespace wendrix::com
