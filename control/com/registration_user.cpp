// DllInstall and the per-user registration: `regsvr32 /n /i:user Wendrix.ocx` registers the
// control for the current user only, under HKCU\Software\Classes, which needs no administrator's
// rights; `regsvr32 /u /n /i:user` removes those keys again. Without "user" DllInstall does
// what DllRegisterServer and DllUnregisterServer do.
#include <cwchar>

#include "control/com/registration_scope.h"

// Not declared by every SDK's oleauto.h; present since Windows Vista.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path,
                                                 OLECHAR* help_dir);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid,
                                                   SYSKIND kind);

namespace wendrix::com {
namespace {

bool g_per_user = false;

// While it lives, the process's HKEY_CLASSES_ROOT is the user's own classes key and
// HKEY_LOCAL_MACHINE the user's hive (so HKLM\Software\Classes is the same key): whatever the
// machine-wide registration writes lands in the user's classes, as ATL's per-user registration
// does it.
class PerUserScope {
 public:
  PerUserScope() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &classes_, nullptr) != ERROR_SUCCESS) {
      classes_ = nullptr;
      return;
    }
    LONG rc = RegOpenCurrentUser(KEY_ALL_ACCESS, &user_);
    if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_);
    if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_LOCAL_MACHINE, user_);
    result_ = HRESULT_FROM_WIN32(rc);
    g_per_user = SUCCEEDED(result_);
  }
  ~PerUserScope() {
    g_per_user = false;
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (user_) RegCloseKey(user_);
    if (classes_) RegCloseKey(classes_);
  }
  PerUserScope(const PerUserScope&) = delete;
  PerUserScope& operator=(const PerUserScope&) = delete;

  // S_OK when the keys are redirected.
  HRESULT result() const { return classes_ ? result_ : E_ACCESSDENIED; }

 private:
  HKEY classes_ = nullptr;
  HKEY user_ = nullptr;
  HRESULT result_ = S_OK;
};

// While it lives, the process's HKEY_CLASSES_ROOT is HKLM\Software\Classes alone. The type
// library functions write and delete through HKEY_CLASSES_ROOT, which Windows otherwise maps to
// HKCU\Software\Classes wherever the key exists there: a machine-wide registration after a
// per-user one would put the library in that user's hive, and its unregistration would delete
// the user's keys.
class MachineScope {
 public:
  MachineScope() {
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes_);
    if (rc == ERROR_SUCCESS) {
      rc = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_);
      overridden_ = rc == ERROR_SUCCESS;
    } else {
      classes_ = nullptr;
    }
    result_ = HRESULT_FROM_WIN32(rc);
  }
  ~MachineScope() {
    if (overridden_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (classes_) RegCloseKey(classes_);
  }
  MachineScope(const MachineScope&) = delete;
  MachineScope& operator=(const MachineScope&) = delete;

  // S_OK when HKEY_CLASSES_ROOT is the machine's classes key.
  HRESULT result() const { return result_; }

 private:
  HKEY classes_ = nullptr;
  bool overridden_ = false;
  HRESULT result_ = S_OK;
};

}  // namespace

bool RegisteringPerUser() { return g_per_user; }

HRESULT RegisterLibrary(ITypeLib* library, wchar_t* path) {
  if (g_per_user) return RegisterTypeLibForUser(library, path, nullptr);
  MachineScope scope;
  if (FAILED(scope.result())) return scope.result();
  return RegisterTypeLib(library, path, nullptr);
}

HRESULT UnregisterLibrary(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND kind) {
  if (g_per_user) return UnRegisterTypeLibForUser(libid, major, minor, lcid, kind);
  MachineScope scope;
  if (FAILED(scope.result())) return scope.result();
  return UnRegisterTypeLib(libid, major, minor, lcid, kind);
}

}  // namespace wendrix::com

// `command` is regsvr32's /i:text: "user" (in any case) for the current user, anything else for
// the whole machine.
STDAPI DllInstall(BOOL install, LPCWSTR command) {
  if (!command || _wcsicmp(command, L"user") != 0)
    return install ? DllRegisterServer() : DllUnregisterServer();
  wendrix::com::PerUserScope scope;
  if (FAILED(scope.result())) return scope.result();
  return install ? DllRegisterServer() : DllUnregisterServer();
}
