// registry_capture register MODULE OUT.txt
// registry_capture dump OUT.txt KEY...
// registry_capture create PROGID
//
// Build- and check-time tool, run under Wine in the bitness of the module it reads.
//
// `register` loads MODULE, points HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT and HKEY_CURRENT_USER of
// this process at an empty scratch key (RegOverridePredefKey), calls the module's
// DllRegisterServer and lists everything it wrote, then removes the scratch key: the real
// registry is not touched, and whatever the registration writes (classes, type library,
// interfaces, keys outside the classes) is in the list. packaging/make_wxs.py turns that list into
// the installer's registry rows, so they are always what the module itself writes.
//
// `dump` lists the named keys (e.g. HKLM\Software\Classes\CLSID\{...}) and everything below them as
// they are, in the same form, so a check can compare an installed registration with the list.
//
// `create` creates an object by its ProgID (exit code 0) or says why it cannot (1).
//
// The list is UTF-8, one line per value, sorted:  KEY <tab> NAME <tab> TYPE <tab> DATA, where KEY
// starts with HKLM, HKCU or HKCR, NAME is @ for the default value, TYPE is REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ (items joined by \0), REG_DWORD (decimal) or REG_BINARY (hex); a key without
// values is a line of its own with the type KEY. Exit code 0 on success.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kScratch[] = L"Software\\Wendrix registry capture";

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring ValueText(DWORD type, const std::vector<BYTE>& data, const wchar_t** type_name) {
  const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
  size_t count = data.size() / sizeof(wchar_t);
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      *type_name = type == REG_SZ ? L"REG_SZ" : L"REG_EXPAND_SZ";
      std::wstring text(chars, count);
      return text.substr(0, text.find(L'\0'));
    }
    case REG_MULTI_SZ: {
      *type_name = L"REG_MULTI_SZ";
      std::wstring text(chars, count);
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      std::wstring out;
      for (wchar_t c : text) out += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
      return out;
    }
    case REG_DWORD: {
      *type_name = L"REG_DWORD";
      DWORD value = 0;
      memcpy(&value, data.data(), std::min<size_t>(data.size(), sizeof value));
      return std::to_wstring(value);
    }
    default: {
      *type_name = L"REG_BINARY";
      std::wstring out;
      wchar_t hex[4];
      for (BYTE b : data) {
        swprintf(hex, 4, L"%02x", b);
        out += hex;
      }
      return out;
    }
  }
}

// Appends the lines of `key` (named `name`) and of every key below it.
void List(HKEY key, const std::wstring& name, std::vector<std::string>* lines) {
  DWORD values = 0, subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  if (values == 0) lines->push_back(Utf8(name) + "\t\tKEY\t");
  for (DWORD i = 0;; ++i) {
    wchar_t value_name[16384];
    DWORD name_size = 16384, type = 0, size = 0;
    if (RegEnumValueW(key, i, value_name, &name_size, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    std::vector<BYTE> data(size + sizeof(wchar_t));
    name_size = 16384;
    if (RegEnumValueW(key, i, value_name, &name_size, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
      break;
    data.resize(size);
    const wchar_t* type_name = L"";
    std::wstring text = ValueText(type, data, &type_name);
    lines->push_back(Utf8(name) + "\t" + (name_size ? Utf8(value_name) : "@") + "\t" +
                     Utf8(type_name) + "\t" + Utf8(text));
  }
  for (DWORD i = 0;; ++i) {
    wchar_t sub[256];
    DWORD size = 256;
    if (RegEnumKeyExW(key, i, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, sub, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    List(child, name + L"\\" + sub, lines);
    RegCloseKey(child);
  }
}

bool Write(const char* path, std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  FILE* out = fopen(path, "wb");
  if (!out) return false;
  for (const auto& line : lines) fprintf(out, "%s\n", line.c_str());
  return fclose(out) == 0;
}

// Lists KEY (HKLM\..., HKCU\... or HKCR\...) if it exists.
void Dump(const std::wstring& path, std::vector<std::string>* lines) {
  const struct {
    const wchar_t* name;
    HKEY root;
  } roots[] = {{L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKCU", HKEY_CURRENT_USER},
               {L"HKCR", HKEY_CLASSES_ROOT}};
  for (const auto& r : roots) {
    std::wstring prefix = std::wstring(r.name) + L"\\";
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    HKEY key = nullptr;
    if (RegOpenKeyExW(r.root, path.c_str() + prefix.size(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return;
    List(key, path, lines);
    RegCloseKey(key);
  }
}

int Register(const wchar_t* module_path, const char* out) {
  CoInitialize(nullptr);
  HMODULE module = LoadLibraryW(module_path);
  using RegisterServer = HRESULT(STDAPICALLTYPE*)();
  FARPROC entry = module ? GetProcAddress(module, "DllRegisterServer") : nullptr;
  auto register_server = reinterpret_cast<RegisterServer>(reinterpret_cast<void (*)()>(entry));
  if (!register_server) {
    fwprintf(stderr, L"registry_capture: %ls has no DllRegisterServer\n", module_path);
    return 1;
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  HKEY scratch = nullptr, machine = nullptr, classes = nullptr, user = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &scratch, nullptr);
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExW(scratch, L"HKLM", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine,
                         nullptr);
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExW(machine, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                         &classes, nullptr);
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExW(scratch, L"HKCU", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user, nullptr);
  if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
  if (rc == ERROR_SUCCESS) rc = RegOverridePredefKey(HKEY_CURRENT_USER, user);
  HRESULT hr = rc == ERROR_SUCCESS ? register_server() : HRESULT_FROM_WIN32(rc);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  std::vector<std::string> lines;
  if (SUCCEEDED(hr)) {
    // The user part is listed only when something was written there.
    List(machine, L"HKLM", &lines);
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyW(user, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    if (subkeys || values) List(user, L"HKCU", &lines);
  }
  for (HKEY key : {user, classes, machine, scratch})
    if (key) RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  RegDeleteKeyW(HKEY_CURRENT_USER, kScratch);
  if (FAILED(hr)) {
    fwprintf(stderr, L"registry_capture: DllRegisterServer: 0x%08lx\n", static_cast<long>(hr));
    return 1;
  }
  return Write(out, lines) ? 0 : 1;
}

int Create(const wchar_t* prog_id) {
  CoInitialize(nullptr);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(prog_id, &clsid);
  IUnknown* object = nullptr;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(&object));
  if (FAILED(hr)) {
    fwprintf(stderr, L"registry_capture: %ls: 0x%08lx\n", prog_id, static_cast<long>(hr));
    return 1;
  }
  object->Release();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && wcscmp(argv[1], L"register") == 0) {
    std::string out = Utf8(argv[3]);
    return Register(argv[2], out.c_str());
  }
  if (argc >= 3 && wcscmp(argv[1], L"dump") == 0) {
    std::vector<std::string> lines;
    for (int i = 3; i < argc; ++i) Dump(argv[i], &lines);
    return Write(Utf8(argv[2]).c_str(), lines) ? 0 : 1;
  }
  if (argc == 3 && wcscmp(argv[1], L"create") == 0) return Create(argv[2]);
  fwprintf(stderr,
           L"usage: registry_capture register MODULE OUT.txt | dump OUT.txt KEY... | create "
           L"PROGID\n");
  return 2;
}
