// DllRegisterServer and DllUnregisterServer: the class, its programmatic identifier and the
// type library, machine-wide, in the registry view of the module's own bitness.
//
// The keys are written under HKLM\Software\Classes by name: a write through HKCR lands in
// HKCU\Software\Classes wherever the key exists there already. On 64-bit Windows only some of
// HKLM\Software\Classes (CLSID among them) has a view per bitness; the programmatic identifier
// is shared, so it stays while the other bitness still registers the class.
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <new>
#include <string>

#include "Wendrix_h.h"
#include "control/com/event_source.h"
#include "control/com/module.h"
#include "control/com/registration_scope.h"
#include "platform/win32/system_error.h"

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kProgId[] = L"Wendrix.DSWendrixControl";
const wchar_t kClassName[] = L"DSWendrixControl";
// Recompose on resize, cannot link inside, inside-out, activate when visible, no UI activation
// (the control takes no keyboard input: a click must not take the focus), set client site first.
const wchar_t kMiscStatus[] = L"147857";
const wchar_t kToolboxBitmapId[] = L"30000";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring Classes(const std::wstring& path) { return L"Software\\Classes\\" + path; }

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_DSWendrixControl); }

// Creates HKLM\Software\Classes\<path> and sets its value `name` (nullptr: the default value)
// to `value`.
HRESULT SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Classes(path).c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(rc);
}

HRESULT DeleteTree(const std::wstring& path) {
  const std::wstring full = Classes(path);
  LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, full.c_str());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, full.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

SYSKIND OwnSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

// Whether the class has an in-process server registered in this bitness's view (`other`
// false) or the other one's (on 32-bit Windows, where there is one view, the same).
bool ServerRegistered(bool other) {
  REGSAM view = 0;
  if (other) view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Classes(ClassKey() + L"\\InprocServer32").c_str(), 0,
                    KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Removes this bitness's registration; the programmatic identifier only when the other bitness
// does not register the class too.
HRESULT Unregister() {
  HRESULT result = DeleteTree(ClassKey());
  if (!ServerRegistered(true)) {
    HRESULT hr = DeleteTree(kProgId);
    if (FAILED(hr)) result = hr;
  }
  // Only this bitness's part of the library's key (win32 or win64) goes; the key itself stays
  // while the other part is registered.
  HRESULT hr = wendrix::com::UnregisterLibrary(LIBID_Wendrix, 2, 0, 0x0409, OwnSysKind());
  if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) result = hr;
  if (!wendrix::com::RegisteringPerUser()) {
    hr = wendrix::com::UnregisterReportSource(wendrix::com::ModulePath());
    if (FAILED(hr)) result = hr;
  }
  return result;
}

HRESULT Register() {
  const std::wstring module = wendrix::com::ModulePath();
  if (module.empty()) return wendrix::win32::LastErrorHResult();
  // The library is loaded before any key is written: a module whose library cannot be read
  // changes nothing.
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  const std::wstring clsid = ClassKey();
  const struct {
    std::wstring path;
    const wchar_t* name;
    std::wstring value;
  } keys[] = {
      {clsid, nullptr, kClassName},
      {clsid + L"\\InprocServer32", nullptr, module},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", nullptr, kProgId},
      {clsid + L"\\Control", nullptr, L""},
      // The control category (CATID_Control): hosts list the controls they offer by it.
      {clsid + L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", nullptr, L""},
      {clsid + L"\\MiscStatus", nullptr, kMiscStatus},
      {clsid + L"\\MiscStatus\\1", nullptr, kMiscStatus},
      {clsid + L"\\ToolboxBitmap32", nullptr, module + L", " + kToolboxBitmapId},
      // The verbs a container lists (EnumVerbs answers OLE_S_USEREG): the primary verb, which
      // activates the control in place; on the container's menu (2), an ordinary item (0).
      {clsid + L"\\Verb\\0", nullptr, L"&Edit,0,2"},
      {clsid + L"\\TypeLib", nullptr, GuidText(LIBID_Wendrix)},
      {clsid + L"\\Version", nullptr, L"2.0"},
      {kProgId, nullptr, kClassName},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, GuidText(CLSID_DSWendrixControl)},
  };
  for (const auto& k : keys) {
    hr = SetKey(k.path, k.name, k.value);
    if (FAILED(hr)) return hr;
  }
  std::wstring path = module;
  hr = wendrix::com::RegisterLibrary(library.Get(), path.data());
  if (FAILED(hr) || wendrix::com::RegisteringPerUser()) return hr;
  return wendrix::com::RegisterReportSource(module);
}

}  // namespace

// A registration that fails half-way is taken back only when there was none before it: a
// failed re-registration leaves the earlier, working one in place.
STDAPI DllRegisterServer() {
  try {
    const bool registered_before = ServerRegistered(false);
    HRESULT hr = Register();
    if (FAILED(hr) && !registered_before) Unregister();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Removes what DllRegisterServer wrote; keys that are already gone are no failure.
STDAPI DllUnregisterServer() {
  try {
    return Unregister();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
