// DllRegisterServer and DllUnregisterServer: the class, its programmatic identifier and the
// type library, in the registry view of the module's own bitness.
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

#include "Wendrix_h.h"
#include "control/com/module.h"
#include "control/com/registration_scope.h"
#include "platform/win32/system_error.h"

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kProgId[] = L"Wendrix.DSWendrixControl";
const wchar_t kClassName[] = L"DSWendrixControl";
// Recompose on resize, cannot link inside, inside-out, activate when visible, set client site
// first.
const wchar_t kMiscStatus[] = L"131473";
const wchar_t kToolboxBitmapId[] = L"30000";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Creates HKCR\<path> and sets its value `name` (nullptr: the default value) to `value`.
HRESULT SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(rc);
}

HRESULT DeleteTree(const std::wstring& path) {
  LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

SYSKIND OwnSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

HRESULT Register() {
  const std::wstring module = wendrix::com::ModulePath();
  if (module.empty()) return wendrix::win32::LastErrorHResult();
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_DSWendrixControl);
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
    HRESULT hr = SetKey(k.path, k.name, k.value);
    if (FAILED(hr)) return hr;
  }
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  std::wstring path = module;
  return wendrix::com::RegisterLibrary(library.Get(), path.data());
}

}  // namespace

STDAPI DllRegisterServer() {
  HRESULT hr = Register();
  if (FAILED(hr)) DllUnregisterServer();
  return hr;
}

// Removes what DllRegisterServer wrote; keys that are already gone are no failure.
STDAPI DllUnregisterServer() {
  HRESULT result = S_OK;
  for (const std::wstring& path :
       {L"CLSID\\" + GuidText(CLSID_DSWendrixControl), std::wstring(kProgId)}) {
    HRESULT hr = DeleteTree(path);
    if (FAILED(hr)) result = hr;
  }
  HRESULT hr = wendrix::com::UnregisterLibrary(LIBID_Wendrix, 2, 0, 0x0409, OwnSysKind());
  if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) result = hr;
  return result;
}
