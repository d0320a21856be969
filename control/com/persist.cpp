// IPersistPropertyBag, IPersistStreamInit and IPersistStorage over the saved forms of
// persistence.h.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include "control/com/persistence.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// Defaults or a saved form loaded under a running recording would change its format members
// beneath it: refused, and nothing changes.
bool Refused(const Control& control, HRESULT& hr) {
  if (control.state().IsRecording == False) return false;
  hr = Guard([] {
    throw Error::Platform(static_cast<uint32_t>(E_UNEXPECTED),
                          "The control cannot take new properties while it records; "
                          "call Wendrix_Stop first");
  });
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Persistence: InitNew runs InitProperties, Load ReadProperties, Save WriteProperties. A save
// that leaves the control clean is told to the advise sinks (OnSave).

STDMETHODIMP ControlObject::GetClassID(CLSID* out) {
  if (!out) return E_POINTER;
  *out = CLSID_DSWendrixControl;
  return S_OK;
}

STDMETHODIMP ControlObject::InitNew() {
  ComPtr<IUnknown> keep(Identity());
  if (HRESULT hr; Refused(*control_, hr)) return hr;
  initialized_ = true;
  dirty_ = false;
  return Guard([&] { control_->InitProperties(); });
}

STDMETHODIMP ControlObject::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return Refuse(E_POINTER);
  ComPtr<IUnknown> keep(Identity());
  if (HRESULT hr; Refused(*control_, hr)) return hr;
  // A failed restore keeps what was read before the failure, as the core leaves it.
  initialized_ = true;
  dirty_ = false;
  return Guard([&] {
    HostPropertyBag host(bag, log);
    try {
      control_->ReadProperties(host);
    } catch (const Error& e) {
      host.LogFailure(e);
      throw;
    }
  });
}

STDMETHODIMP ControlObject::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (!bag) return Refuse(E_POINTER);
  HRESULT hr = Call([&] {
    HostPropertyBag host(bag, nullptr);
    control_->WriteProperties(host);
  });
  if (SUCCEEDED(hr) && clear_dirty) {
    dirty_ = false;
    NotifySaved();
  }
  return hr;
}

STDMETHODIMP ControlObject::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

STDMETHODIMP ControlObject::Load(IStream* stream) {
  if (!stream) return Refuse(E_POINTER);
  ComPtr<IUnknown> keep(Identity());
  if (HRESULT hr; Refused(*control_, hr)) return hr;
  initialized_ = true;
  dirty_ = false;
  return Guard([&] {
    MemoryBag saved = ReadBag(stream);
    control_->ReadProperties(saved);
  });
}

STDMETHODIMP ControlObject::Save(IStream* stream, BOOL clear_dirty) {
  if (!stream) return Refuse(E_POINTER);
  HRESULT hr = Call([&] {
    MemoryBag values;
    control_->WriteProperties(values);
    WriteBag(stream, values);
  });
  if (SUCCEEDED(hr) && clear_dirty) {
    dirty_ = false;
    NotifySaved();
  }
  return hr;
}

STDMETHODIMP ControlObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return Refuse(E_POINTER);
  return Call([&] {
    MemoryBag values;
    control_->WriteProperties(values);
    size->QuadPart = SerializeBag(values).size();
  });
}

STDMETHODIMP ControlObject::InitNew(IStorage* storage) {
  if (!storage) return Refuse(E_POINTER);
  return InitNew();
}

STDMETHODIMP ControlObject::Load(IStorage* storage) {
  if (!storage) return Refuse(E_POINTER);
  ComPtr<IStream> stream;
  HRESULT hr =
      storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
  if (FAILED(hr)) return Refuse(hr);
  return Load(stream.Get());
}

STDMETHODIMP ControlObject::Save(IStorage* storage, BOOL) {
  if (!storage) return Refuse(E_POINTER);
  ComPtr<IStream> stream;
  HRESULT hr = storage->CreateStream(
      kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
  if (FAILED(hr)) return Refuse(hr);
  return Save(stream.Get(), TRUE);
}

STDMETHODIMP ControlObject::SaveCompleted(IStorage*) { return S_OK; }
STDMETHODIMP ControlObject::HandsOffStorage() { return S_OK; }

}  // namespace wendrix::com
