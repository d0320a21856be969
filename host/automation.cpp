#include "host/automation.h"

#include <cstdio>
#include <vector>

namespace wendrix::host {

std::string Utf8(const wchar_t* text) {
  if (!text || !*text) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

namespace {

std::string Describe(const std::string& what, HRESULT hr, const std::string& detail) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  std::string text = what + " failed (" + code + ")";
  if (!detail.empty()) return text + ": " + detail;
  wchar_t* message = nullptr;
  if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&message), 0,
                     nullptr) &&
      message) {
    std::string m = Utf8(message);
    LocalFree(message);
    while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' ')) m.pop_back();
    if (!m.empty()) text += ": " + m;
  }
  return text;
}

// The description a control left with SetErrorInfo, if any.
std::string ErrorInfoText() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR description = nullptr;
  std::string text;
  if (SUCCEEDED(info->GetDescription(&description)) && description) text = Utf8(description);
  SysFreeString(description);
  return text;
}

}  // namespace

HostError::HostError(const std::string& what, HRESULT hr)
    : std::runtime_error(Describe(what, hr, ErrorInfoText())), hr_(hr) {}

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) throw HostError(what, hr);
}

std::string Value::Text() const {
  if (V_VT(&v) == VT_BOOL) return V_BOOL(&v) ? "True" : "False";
  if (V_VT(&v) == VT_EMPTY) return "Empty";
  double d;
  if (V_VT(&v) != VT_BSTR && AsDouble(&d)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", d);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
  }
  VARIANT copy;
  VariantInit(&copy);
  std::string text = "?";
  if (SUCCEEDED(VariantChangeTypeEx(&copy, const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
    text = Utf8(V_BSTR(&copy));
  VariantClear(&copy);
  return text;
}

bool Value::AsDouble(double* out) const {
  VARTYPE t = V_VT(&v);
  if (t == VT_EMPTY || t == VT_BSTR || t == VT_ERROR) return false;
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeTypeEx(&copy, const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_R8)))
    return false;
  *out = V_R8(&copy);
  return true;
}

DISPID Automation::IdOf(const wchar_t* name) const {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  Check(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
        "GetIDsOfNames " + Utf8(name));
  return id;
}

void Automation::Invoke(const wchar_t* name, WORD flags, DISPPARAMS* params,
                        VARIANT* result) const {
  DISPID id = IdOf(name);
  EXCEPINFO exception{};
  UINT arg_error = 0;
  HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result,
                                 &exception, &arg_error);
  std::string description;
  if (exception.bstrDescription) description = Utf8(exception.bstrDescription);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
  if (hr == DISP_E_EXCEPTION) {
    HRESULT code =
        exception.scode ? exception.scode : MAKE_HRESULT(1, FACILITY_CONTROL, exception.wCode);
    throw HostError(Utf8(name) + (description.empty() ? "" : ": " + description), code);
  }
  Check(hr, Utf8(name));
}

void Automation::Get(const wchar_t* name, Value* result) const {
  DISPPARAMS none{};
  VariantClear(&result->v);
  Invoke(name, DISPATCH_PROPERTYGET, &none, &result->v);
}

void Automation::Put(const wchar_t* name, VARIANT value) const {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  Invoke(name, DISPATCH_PROPERTYPUT, &params, nullptr);
}

void Automation::PutLong(const wchar_t* name, LONG value) const {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  Put(name, v);
}

void Automation::PutBool(const wchar_t* name, bool value) const {
  VARIANT v;
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  Put(name, v);
}

bool Automation::CallBool(const wchar_t* name) const {
  DISPPARAMS none{};
  Value result;
  Invoke(name, DISPATCH_METHOD, &none, &result.v);
  return V_VT(&result.v) == VT_BOOL && V_BOOL(&result.v) != VARIANT_FALSE;
}

bool Automation::CallBoolWithString(const wchar_t* name, const std::wstring& text) const {
  BSTR string = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!string) throw HostError(Utf8(name), E_OUTOFMEMORY);
  VARIANT arg;
  V_VT(&arg) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&arg) = &string;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  Value result;
  try {
    Invoke(name, DISPATCH_METHOD, &params, &result.v);
  } catch (...) {
    SysFreeString(string);
    throw;
  }
  SysFreeString(string);
  return V_VT(&result.v) == VT_BOOL && V_BOOL(&result.v) != VARIANT_FALSE;
}

std::string Automation::NameOf(DISPID id) const {
  ComPtr<ITypeInfo> info;
  if (FAILED(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info) return "?";
  BSTR name = nullptr;
  UINT count = 0;
  if (FAILED(info->GetNames(id, &name, 1, &count)) || count == 0) return "?";
  std::string text = Utf8(name);
  SysFreeString(name);
  return text;
}

}  // namespace wendrix::host
