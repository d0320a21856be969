#include "tests/win/com_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace wendrix::com_test {
namespace {

// Watches the test program from a thread of its own, so that what would hang it under an
// unattended CI run ends as a named failure instead: a box of the control that no test
// answers within 10 s is read, printed and closed (and fails the run at its end); a test that
// runs for longer than 4 minutes is named and the program ends.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Run(); }) {}
  ~Watchdog() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> unanswered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unanswered_;
  }

 private:
  static std::string CurrentTest() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return test ? std::string(test->test_suite_name()) + "." + test->name() : "(between tests)";
  }

  void Run() {
    using Clock = std::chrono::steady_clock;
    HWND box_seen = nullptr;
    Clock::time_point box_since{}, test_since = Clock::now();
    std::string test = CurrentTest();
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const Clock::time_point now = Clock::now();
      if (const std::string current = CurrentTest(); current != test) {
        test = current;
        test_since = now;
      }
      if (now - test_since > std::chrono::minutes(4)) {
        std::printf("[watchdog] %s has run for 4 minutes: the program ends\n", test.c_str());
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
      }
      HWND box = FindOwnBox();
      if (box != box_seen) {
        box_seen = box;
        box_since = now;
      }
      if (!box || now - box_since < std::chrono::seconds(10)) continue;
      const std::wstring wide = BoxText(box);
      const std::string text = test + ": " + std::string(wide.begin(), wide.end());
      std::printf("[watchdog] a box nobody answered in %s\n", text.c_str());
      std::fflush(stdout);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      std::lock_guard<std::mutex> lock(mutex_);
      unanswered_.push_back(text);
    }
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> unanswered_;
  std::thread thread_;
};

// COM for the whole test program, on its main thread, as a form host has it.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(OleInitialize(nullptr));
    watchdog_ = std::make_unique<Watchdog>();
  }
  void TearDown() override {
    for (const std::string& box : watchdog_->unanswered())
      ADD_FAILURE() << "unanswered box in " << box;
    watchdog_.reset();
    OleUninitialize();
  }

 private:
  std::unique_ptr<Watchdog> watchdog_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

HMODULE Module() {
  static HMODULE module = LoadLibraryW(OcxPath().c_str());
  return module;
}

}  // namespace

HWND FindOwnBox() {
  HWND box = FindWindowW(L"#32770", L"Wendrix");
  DWORD process = 0;
  if (box) GetWindowThreadProcessId(box, &process);
  return process == GetCurrentProcessId() ? box : nullptr;
}

std::wstring BoxText(HWND box) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the box's static text (its icon has another id)
  return text;
}

std::wstring OcxPath() {
  std::string unix_path = WENDRIX_OCX_PATH;
  std::wstring path(unix_path.begin(), unix_path.end());
  // Wine sees the Linux file system as drive Z:.
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

ComPtr<IDispatch> CreateControl() {
  HMODULE module = Module();
  EXPECT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
  if (!module) return nullptr;
  auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  EXPECT_NE(get, nullptr);
  if (!get) return nullptr;
  ComPtr<IClassFactory> factory;
  EXPECT_HRESULT_SUCCEEDED(get(CLSID_DSWendrixControl, IID_PPV_ARGS(&factory)));
  ComPtr<IDispatch> control;
  if (factory) {
    EXPECT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)));
  }
  return control;
}

Var Var::I2(SHORT x) {
  Var r;
  V_VT(&r.v) = VT_I2, V_I2(&r.v) = x;
  return r;
}
Var Var::I4(LONG x) {
  Var r;
  V_VT(&r.v) = VT_I4, V_I4(&r.v) = x;
  return r;
}
Var Var::R8(double x) {
  Var r;
  V_VT(&r.v) = VT_R8, V_R8(&r.v) = x;
  return r;
}
Var Var::Bool(bool x) {
  Var r;
  V_VT(&r.v) = VT_BOOL, V_BOOL(&r.v) = x ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}
Var Var::Str(const wchar_t* s) {
  Var r;
  V_VT(&r.v) = VT_BSTR, V_BSTR(&r.v) = SysAllocString(s);
  return r;
}

LONG Var::AsLong() const {
  VARIANT x;
  VariantInit(&x);
  HRESULT hr = VariantChangeType(&x, const_cast<VARIANT*>(&v), 0, VT_I4);
  EXPECT_HRESULT_SUCCEEDED(hr) << "variant type " << V_VT(&v);
  return SUCCEEDED(hr) ? V_I4(&x) : 0;
}

std::wstring Var::AsText() const {
  VARIANT x;
  VariantInit(&x);
  HRESULT hr = VariantChangeType(&x, const_cast<VARIANT*>(&v), 0, VT_BSTR);
  EXPECT_HRESULT_SUCCEEDED(hr);
  std::wstring s = SUCCEEDED(hr) && V_BSTR(&x) ? V_BSTR(&x) : L"";
  VariantClear(&x);
  return s;
}

Outcome::~Outcome() {
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

void Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT*> args, Outcome& out) {
  std::vector<VARIANT> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.result,
                          &out.exception, &out.arg_error);
}

void InvokeByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT*> args,
                  Outcome& out) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  out.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(out.hr)) Invoke(object, id, flags, std::move(args), out);
}

void PumpFor(int ms) {
  for (const ULONGLONG until = GetTickCount64() + ms; GetTickCount64() < until;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

bool Call(IDispatch* control, const wchar_t* name, std::vector<VARIANT*> args, WORD flags) {
  Outcome out;
  InvokeByName(control, name, flags, std::move(args), out);
  EXPECT_HRESULT_SUCCEEDED(out.hr) << "raised by " << std::string(name, name + wcslen(name));
  return V_VT(&out.result.v) == VT_BOOL && V_BOOL(&out.result.v) == VARIANT_TRUE;
}

ErrorText TakeErrorInfo() {
  ErrorText text;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK) return text;
  BSTR s = nullptr;
  if (SUCCEEDED(info->GetSource(&s)) && s) text.source = s;
  SysFreeString(s);
  s = nullptr;
  if (SUCCEEDED(info->GetDescription(&s)) && s) text.description = s;
  SysFreeString(s);
  return text;
}

namespace {

// A container's site: answers the ambient UserMode through IDispatch.
class Site final : public IOleClientSite, public IDispatch {
 public:
  explicit Site(bool user_mode) : user_mode_(user_mode) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (!n) delete this;
    return n;
  }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = user_mode_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  bool user_mode_;
};

}  // namespace

ComPtr<IOleClientSite> MakeSite(bool user_mode) {
  // mingw-w64's ComPtr::Attach adds a reference; take the new object's own reference over.
  auto* raw = new Site(user_mode);
  ComPtr<IOleClientSite> site(raw);
  raw->Release();
  return site;
}

}  // namespace wendrix::com_test
