#include "platform/win32/default_device_watch.h"

#include <atomic>
#include <new>

namespace wendrix::win32 {

using Microsoft::WRL::ComPtr;

class DefaultDeviceWatch::Client final : public IMMNotificationClient {
 public:
  uint32_t changes() const { return changes_.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != __uuidof(IUnknown) && riid != __uuidof(IMMNotificationClient)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IMMNotificationClient*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (flow == eCapture && role == eConsole) ++changes_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  std::atomic<uint32_t> changes_{0};
};

DefaultDeviceWatch::DefaultDeviceWatch() {
  Client* created = new (std::nothrow) Client();
  if (!created) return;
  // The pointer takes its own reference (mingw-w64's Attach would too); the creation's goes.
  ComPtr<Client> client(created);
  created->Release();
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&enumerator)))) {
    return;
  }
  if (FAILED(enumerator->RegisterEndpointNotificationCallback(client.Get()))) return;
  enumerator_ = std::move(enumerator);
  client_ = std::move(client);
}

DefaultDeviceWatch::~DefaultDeviceWatch() {
  if (enumerator_ && client_) enumerator_->UnregisterEndpointNotificationCallback(client_.Get());
}

uint32_t DefaultDeviceWatch::changes() const { return client_ ? client_->changes() : 0; }

}  // namespace wendrix::win32
