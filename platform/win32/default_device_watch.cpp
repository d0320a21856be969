#include "platform/win32/default_device_watch.h"

#include <atomic>
#include <mutex>

namespace wendrix::win32 {

using Microsoft::WRL::ComPtr;

namespace {

// Windows documents that registration and unregistration do not call AddRef or Release on the
// client, and it does not document that unregistration waits for a notification in flight on
// its own thread. So the client is one static object of the module with no-op reference
// counting: nothing ever deletes it, and a late call finds it whole for as long as the module
// is loaded. Every watch of the process shares it and its count.
class Client final : public IMMNotificationClient {
 public:
  uint32_t changes() const { return changes_.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != __uuidof(IUnknown) && riid != __uuidof(IMMNotificationClient)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IMMNotificationClient*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

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
  std::atomic<uint32_t> changes_{0};
};

Client client;

// The one registration of the process, held while any watch lives.
struct Registration {
  std::mutex lock;
  ComPtr<IMMDeviceEnumerator> enumerator;
  unsigned watches = 0;
};

Registration& registration() {
  static Registration* shared = new Registration();  // never destroyed: no order at unload
  return *shared;
}

}  // namespace

DefaultDeviceWatch::DefaultDeviceWatch() {
  Registration& shared = registration();
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!shared.enumerator) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&enumerator))) ||
        FAILED(enumerator->RegisterEndpointNotificationCallback(&client))) {
      return;
    }
    shared.enumerator = std::move(enumerator);
  }
  ++shared.watches;
  registered_ = true;
  start_ = client.changes();
}

DefaultDeviceWatch::~DefaultDeviceWatch() {
  if (!registered_) return;
  Registration& shared = registration();
  std::lock_guard<std::mutex> hold(shared.lock);
  if (--shared.watches > 0) return;
  shared.enumerator->UnregisterEndpointNotificationCallback(&client);
  shared.enumerator.Reset();
}

uint32_t DefaultDeviceWatch::changes() const { return registered_ ? client.changes() - start_ : 0; }

}  // namespace wendrix::win32
