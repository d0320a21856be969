// The exports DllGetClassObject and DllCanUnloadNow, and the class factory.
#include "control/com/module.h"

#include <atomic>
#include <new>

#include "Wendrix_h.h"
#include "control/com/control_object.h"
#include "control/com/object_count.h"

namespace wendrix::com {
namespace {

HINSTANCE g_module = nullptr;
std::atomic<long> g_locks{0};

// The one class factory; it lives as long as the module, so its count does not keep the
// module loaded (LockServer does).
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return ControlObject::Create(riid, out);
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      ++g_locks;
    else
      --g_locks;
    return S_OK;
  }
};

ClassFactory g_factory;

}  // namespace

HINSTANCE ModuleHandle() { return g_module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace wendrix::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    // No DisableThreadLibraryCalls: the statically linked runtime frees each thread's data
    // when the thread detaches, and would leak it for every host thread that called in.
    wendrix::com::g_module = instance;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_DSWendrixControl) return CLASS_E_CLASSNOTAVAILABLE;
  return wendrix::com::g_factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() {
  return wendrix::com::LiveObjects() == 0 && wendrix::com::g_locks == 0 ? S_OK : S_FALSE;
}
