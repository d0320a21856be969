// regsvr32 registers Wendrix.ocx and removes every key again; the registered library loads.
#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// The other bitness's module of this tree (build\win64 beside build\win32), or "" when it was
// not built.
std::wstring OtherOcxPath() {
  std::wstring path = OcxPath();
  const std::wstring own = sizeof(void*) == 8 ? L"\\win64\\" : L"\\win32\\";
  const size_t at = path.rfind(own);
  if (at == std::wstring::npos) return {};
  path.replace(at, own.size(), sizeof(void*) == 8 ? L"\\win32\\" : L"\\win64\\");
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? L"" : path;
}

// Runs the regsvr32 of the module's bitness: this process's, or for `module` of the other
// bitness the other one (SysWOW64's from a 64-bit process, Sysnative's from a 32-bit one).
DWORD RunRegsvr32(const std::wstring& options, const std::wstring& module = OcxPath()) {
  std::wstring program = L"regsvr32.exe";
  if (module != OcxPath()) {
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    program = std::wstring(windows) +
              (sizeof(void*) == 8 ? L"\\syswow64\\regsvr32.exe" : L"\\sysnative\\regsvr32.exe");
  }
  std::wstring command = L"\"" + program + L"\" " + options + L" \"" + module + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return ~0u;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = ~0u;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The value `name` (nullptr: default) of HKCR\path, or nothing when the key is missing.
bool ReadKey(const std::wstring& path, const wchar_t* name, std::wstring& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  value = rc == ERROR_SUCCESS ? buffer : L"<no value>";
  return true;
}

// Whether HKLM\Software\Classes\<path> exists in this bitness's registry view or the other's.
bool KeyInView(const std::wstring& path, bool other) {
  REGSAM view = 0;
  if (other) view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + path).c_str(), 0, KEY_READ | view,
                    &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

bool KeyExists(const std::wstring& path) {
  std::wstring ignored;
  return ReadKey(path, nullptr, ignored);
}

// The event source's message file, or nothing when the source is not registered.
bool EventSource(std::wstring& file, DWORD& types) {
  const std::wstring source = sizeof(void*) == 8 ? L"Wendrix (64-bit)" : L"Wendrix (32-bit)";
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t), types_size = sizeof types;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"EventMessageFile",
                   RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buffer, &size) != ERROR_SUCCESS)
    return false;
  file = buffer;
  return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"TypesSupported", RRF_RT_REG_DWORD, nullptr,
                      &types, &types_size) == ERROR_SUCCESS;
}

struct Expected {
  std::wstring path;
  const wchar_t* name;
  std::wstring value;
};

std::vector<Expected> ExpectedKeys() {
  const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_DSWendrixControl);
  const std::wstring module = OcxPath();
  return {
      {clsid, nullptr, L"DSWendrixControl"},
      {clsid + L"\\InprocServer32", nullptr, module},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", nullptr, L"Wendrix.DSWendrixControl"},
      {clsid + L"\\Control", nullptr, L""},
      {clsid + L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", nullptr, L""},
      {clsid + L"\\MiscStatus", nullptr, L"147857"},
      {clsid + L"\\MiscStatus\\1", nullptr, L"147857"},
      {clsid + L"\\ToolboxBitmap32", nullptr, module + L", 30000"},
      {clsid + L"\\Verb\\0", nullptr, L"&Edit,0,2"},
      {clsid + L"\\TypeLib", nullptr, GuidText(LIBID_Wendrix)},
      {clsid + L"\\Version", nullptr, L"2.0"},
      {L"Wendrix.DSWendrixControl", nullptr, L"DSWendrixControl"},
      {L"Wendrix.DSWendrixControl\\CLSID", nullptr, GuidText(CLSID_DSWendrixControl)},
  };
}

TEST(ComRegistration, Regsvr32RegistersEveryKeyAndRemovesThemAgain) {
  ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
  for (const Expected& k : ExpectedKeys()) {
    std::wstring value;
    ASSERT_TRUE(ReadKey(k.path, k.name, value)) << k.path;
    if (!_wcsicmp(k.value.c_str(), value.c_str())) continue;
    ADD_FAILURE() << "HKCR\\" << std::string(k.path.begin(), k.path.end()) << " holds "
                  << std::string(value.begin(), value.end());
  }

  // The Application log's source names this module's message table, for errors, warnings and
  // information.
  std::wstring message_file;
  DWORD types = 0;
  ASSERT_TRUE(EventSource(message_file, types));
  EXPECT_EQ(_wcsicmp(message_file.c_str(), OcxPath().c_str()), 0);
  EXPECT_EQ(types, 7u);

  // The registered library is the one in the module, and the ProgID leads to a working class.
  ComPtr<ITypeLib> library;
  ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &library));
  BSTR path = nullptr;
  ASSERT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &path));
  EXPECT_EQ(_wcsicmp(path, OcxPath().c_str()), 0);
  SysFreeString(path);
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"Wendrix.DSWendrixControl", &clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_DSWendrixControl));
  ComPtr<IDispatch> control;
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
  // The control sends its container to the registry for its verbs, and finds the primary one.
  ComPtr<IOleObject> object;
  ASSERT_HRESULT_SUCCEEDED(control.As(&object));
  ComPtr<IEnumOLEVERB> verbs;
  EXPECT_EQ(object->EnumVerbs(&verbs), OLE_S_USEREG);
  EXPECT_FALSE(verbs);
  object.Reset();
  ASSERT_HRESULT_SUCCEEDED(OleRegEnumVerbs(clsid, &verbs));
  OLEVERB verb{};
  ASSERT_EQ(verbs->Next(1, &verb, nullptr), S_OK);
  EXPECT_EQ(verb.lVerb, OLEIVERB_PRIMARY);
  EXPECT_STREQ(verb.lpszVerbName, L"&Edit");
  EXPECT_EQ(verb.grfAttribs, static_cast<DWORD>(OLEVERBATTRIB_ONCONTAINERMENU));
  CoTaskMemFree(verb.lpszVerbName);
  EXPECT_EQ(verbs->Next(1, &verb, nullptr), S_FALSE);
  verbs.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
  library.Reset();

  ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
  for (const Expected& k : ExpectedKeys())
    EXPECT_FALSE(KeyExists(k.path)) << std::string(k.path.begin(), k.path.end());
  EXPECT_FALSE(KeyExists(L"TypeLib\\" + GuidText(LIBID_Wendrix) + L"\\2.0"));
  EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(IID__DSWendrixControl)));
  EXPECT_HRESULT_FAILED(LoadRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &library));
  EXPECT_FALSE(EventSource(message_file, types));
}

// Both bitnesses registered side by side: unregistering one leaves the other's class, ProgID and
// library (the ProgID and TypeLib keys are shared by the two registry views); the last one to go
// takes the ProgID with it.
TEST(ComRegistration, EachBitnessUnregistersOnlyItself) {
  const std::wstring other = OtherOcxPath();
  if (other.empty()) GTEST_SKIP() << "the other bitness's Wendrix.ocx is not built";
  const std::wstring server = L"CLSID\\" + GuidText(CLSID_DSWendrixControl) + L"\\InprocServer32";
  const std::wstring prog_id = L"Wendrix.DSWendrixControl";
  ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
  ASSERT_EQ(RunRegsvr32(L"/s", other), 0u);
  ASSERT_EQ(RunRegsvr32(L"/u /s", other), 0u);
  EXPECT_FALSE(KeyInView(server, true));
  ComPtr<IDispatch> control;
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(prog_id.c_str(), &clsid));
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
  EXPECT_EQ(ReleaseLast(control), 0u);
  ComPtr<ITypeLib> library;
  EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &library));
  library.Reset();
  // Each bitness has its own event source: the other's removal left this one's, naming this
  // module.
  std::wstring message_file;
  DWORD types = 0;
  ASSERT_TRUE(EventSource(message_file, types));
  EXPECT_EQ(_wcsicmp(message_file.c_str(), OcxPath().c_str()), 0);

  ASSERT_EQ(RunRegsvr32(L"/s", other), 0u);
  ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
  EXPECT_TRUE(KeyInView(server, true));
  // The ProgID is one key both views share (Wine hides it from a 64-bit process's
  // KEY_WOW64_32KEY, not from 32-bit processes).
  EXPECT_TRUE(KeyInView(prog_id + L"\\CLSID", false));
  EXPECT_TRUE(KeyInView(L"TypeLib\\" + GuidText(LIBID_Wendrix) + L"\\2.0\\409\\" +
                            (sizeof(void*) == 8 ? L"win32" : L"win64"),
                        true));
  ASSERT_EQ(RunRegsvr32(L"/u /s", other), 0u);
  for (const bool view : {false, true}) EXPECT_FALSE(KeyInView(prog_id, view)) << view;
}

// A machine-wide registration after a per-user one puts its library in the machine's classes,
// and the per-user unregistration after it leaves that library alone.
TEST(ComRegistration, MachineAndUserScopesKeepTheirOwnLibrary) {
  const std::wstring library_key = L"TypeLib\\" + GuidText(LIBID_Wendrix);
  ASSERT_EQ(RunRegsvr32(L"/s /n /i:user"), 0u);
  ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
  EXPECT_TRUE(KeyInView(library_key, false));
  EXPECT_TRUE(KeyInView(L"Interface\\" + GuidText(IID__DSWendrixControl), false));
  ASSERT_EQ(RunRegsvr32(L"/u /s /n /i:user"), 0u);

  ComPtr<ITypeLib> library;
  EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &library));
  library.Reset();
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"Wendrix.DSWendrixControl", &clsid));
  ComPtr<IDispatch> control;
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
  EXPECT_EQ(ReleaseLast(control), 0u);
  ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
  EXPECT_FALSE(KeyInView(library_key, false));
}

TEST(ComModule, UnloadsOnlyWithoutObjectsLocksOrAHeldFactory) {
  HMODULE module = GetModuleHandleW(OcxPath().c_str());
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  if (!module) module = GetModuleHandleW(OcxPath().c_str());
  auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_TRUE(can_unload && get);

  EXPECT_EQ(can_unload(), S_FALSE);
  EXPECT_EQ(ReleaseLast(control), 0u);
  EXPECT_EQ(can_unload(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(get(CLSID_DSWendrixControl, IID_PPV_ARGS(&factory)));
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
  EXPECT_EQ(can_unload(), S_FALSE);
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
  EXPECT_EQ(can_unload(), S_FALSE) << "a host holds the factory";
  EXPECT_EQ(ReleaseLast(factory), 0u);
  EXPECT_EQ(can_unload(), S_OK);

  // An enumerator the control handed out keeps the module loaded after the control is gone.
  control = CreateControl();
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  ComPtr<IEnumConnections> connections;
  ASSERT_HRESULT_SUCCEEDED(control.As(&container));
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID___DSWendrixControl, &point));
  ASSERT_HRESULT_SUCCEEDED(point->EnumConnections(&connections));
  point.Reset();
  container.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
  EXPECT_EQ(can_unload(), S_FALSE);
  EXPECT_EQ(ReleaseLast(connections), 0u);
  EXPECT_EQ(can_unload(), S_OK);

  ASSERT_HRESULT_SUCCEEDED(get(CLSID_DSWendrixControl, IID_PPV_ARGS(&factory)));
  ComPtr<IUnknown> outer_attempt;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.Get()), IID_IUnknown,
                                    &outer_attempt),
            CLASS_E_NOAGGREGATION);
  ComPtr<IClassFactory> other;
  EXPECT_EQ(get(IID_IDispatch, IID_PPV_ARGS(&other)), CLASS_E_CLASSNOTAVAILABLE);
}

// An event viewer reads the logged reports' text from the module as a data file, as here.
TEST(ComModule, MessageTableGivesTheEventTheReportAndTheProgram) {
  HMODULE module = LoadLibraryExW(OcxPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>(L"the report"),
                         reinterpret_cast<DWORD_PTR>(L"C:\\host.exe")};
  wchar_t text[256] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 module, 1, 0x409, text, 256, reinterpret_cast<va_list*>(strings));
  FreeLibrary(module);
  ASSERT_GT(n, 0u) << GetLastError();
  EXPECT_EQ(std::wstring(text).rfind(L"the report\r\n\r\nProgram: C:\\host.exe", 0), 0u)
      << std::string(text, text + n);
}

TEST(ComModule, ToolboxBitmapIs16By15With24BitsOnPureRed) {
  HMODULE module = LoadLibraryExW(OcxPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(30000), MAKEINTRESOURCEW(2) /*RT_BITMAP*/);
  ASSERT_NE(found, nullptr);
  auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->biWidth, 16);
  EXPECT_EQ(info->biHeight, 15);
  EXPECT_EQ(info->biBitCount, 24);
  const auto* pixels = reinterpret_cast<const BYTE*>(info) + info->biSize;
  int red = 0, black = 0;
  for (int i = 0; i < 16 * 15; ++i) {
    const BYTE* p = pixels + i * 3;  // rows of 48 bytes: no padding
    if (p[0] == 0 && p[1] == 0 && p[2] == 255) ++red;
    if (p[0] == 0 && p[1] == 0 && p[2] == 0) ++black;
  }
  EXPECT_EQ(red + black, 16 * 15) << "only pure red and black";
  EXPECT_GT(black, 10);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
  FreeLibrary(module);
}

}  // namespace
}  // namespace wendrix::com_test
