// The exports DllGetClassObject and DllCanUnloadNow, and the class factory.
#include "control/com/module.h"

#include <atomic>
#include <new>

#include "Wendrix_h.h"
#include "control/com/control_object.h"
#include "control/com/object_count.h"
#include "platform/win32/open_takes.h"

namespace wendrix::com {
namespace {

HINSTANCE g_module = nullptr;
std::atomic<long> g_locks{0};

// The one class factory; it lives as long as the module. Every reference a host holds on it
// keeps the module loaded, as LockServer does: a host that keeps the factory to create controls
// later (a script engine, a designer) must never find the module freed under it when COM lets
// unused libraries go.
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  // The references hosts hold.
  long Held() const { return refs_; }

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

 private:
  std::atomic<long> refs_{0};
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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    // No DisableThreadLibraryCalls: the statically linked runtime frees each thread's data
    // when the thread detaches, and would leak it for every host thread that called in.
    wendrix::com::g_module = instance;
  }
  // The process is ending with controls no one released: their takes get true sizes.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) {
    wendrix::win32::OpenTake::WriteSizesAtExit();
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
  using namespace wendrix::com;
  return LiveObjects() == 0 && g_locks == 0 && g_factory.Held() == 0 ? S_OK : S_FALSE;
}
