#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

// COM for the whole test program, on its main thread, as a form host has it.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(OleInitialize(nullptr)); }
  void TearDown() override { OleUninitialize(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

HMODULE Module() {
  static HMODULE module = LoadLibraryW(OcxPath().c_str());
  return module;
}

}  // namespace

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
