#include "host/form_file.h"

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>

namespace wendrix::host {
namespace {

constexpr const char* kClassName = "Wendrix.DSWendrixControl";

std::wstring Trim(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t\r");
  if (b == std::wstring::npos) return {};
  size_t e = s.find_last_not_of(L" \t\r");
  return s.substr(b, e - b + 1);
}

std::wstring Number(const wchar_t* format, double value) {
  wchar_t text[64];
  std::swprintf(text, 64, format, value);
  return text;
}

// The part of a value before its remark ('...), outside quotes.
std::wstring WithoutRemark(const std::wstring& text, std::wstring* remark) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'"') quoted = !quoted;
    if (text[i] == L'\'' && !quoted) {
      *remark = Trim(text.substr(i + 1));
      return Trim(text.substr(0, i));
    }
  }
  remark->clear();
  return Trim(text);
}

class FormBag final : public IPropertyBag {
 public:
  explicit FormBag(FormFile* form) : form_(form) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *out = static_cast<IPropertyBag*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    for (const auto& [key, text] : form_->entries) {
      if (_wcsicmp(key.c_str(), name) != 0) continue;
      // The caller's VT_EMPTY means "as stored"; any other type is the one it wants.
      VARTYPE wanted = V_VT(value);
      VARIANT stored;
      VariantInit(&stored);
      HRESULT hr = TextToValue(text, &stored);
      if (FAILED(hr)) return hr;
      if (wanted != VT_EMPTY && wanted != V_VT(&stored)) {
        VariantInit(value);
        hr = VariantChangeTypeEx(value, &stored, LOCALE_INVARIANT, 0, wanted);
        VariantClear(&stored);
        return hr;
      }
      *value = stored;
      return S_OK;
    }
    return E_INVALIDARG;
  }

  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
    if (!name || !value) return E_POINTER;
    std::wstring text = ValueToText(*value);
    if (text.empty()) return E_INVALIDARG;
    for (auto& [key, old] : form_->entries) {
      if (_wcsicmp(key.c_str(), name) == 0) {
        old = text;
        return S_OK;
      }
    }
    form_->entries.emplace_back(name, text);
    return S_OK;
  }

 private:
  ~FormBag() = default;
  LONG refs_ = 1;
  FormFile* form_;
};

}  // namespace

std::wstring ValueToText(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_BOOL:
      return V_BOOL(&v) ? L"-1  'True" : L"0   'False";
    case VT_I4:
      return std::to_wstring(V_I4(&v));
    case VT_I2:
      return std::to_wstring(V_I2(&v)) + L"%";
    case VT_R4:
      return Number(L"%.9g!", V_R4(&v));
    case VT_R8:
      return Number(L"%.17g#", V_R8(&v));
    case VT_CY: {
      LONGLONG units = V_CY(&v).int64;
      std::wstring sign = units < 0 ? L"-" : L"";
      unsigned long long a = units < 0 ? 0ull - static_cast<unsigned long long>(units)
                                       : static_cast<unsigned long long>(units);
      wchar_t text[48];
      std::swprintf(text, 48, L"%ls%llu.%04llu@", sign.c_str(), a / 10000, a % 10000);
      return text;
    }
    case VT_BSTR: {
      std::wstring out = L"\"";
      for (const wchar_t* p = V_BSTR(&v); p && *p; ++p) {
        if (*p == L'"') out += L'"';
        out += *p;
      }
      return out + L"\"";
    }
    case VT_EMPTY:
      return L"Empty";
    default:
      return {};
  }
}

HRESULT TextToValue(const std::wstring& written, VARIANT* value) {
  VariantInit(value);
  std::wstring remark;
  std::wstring text = WithoutRemark(written, &remark);
  if (text.empty()) return E_INVALIDARG;
  if (text == L"Empty") return S_OK;
  if (text.front() == L'"') {
    if (text.size() < 2 || text.back() != L'"') return E_INVALIDARG;
    std::wstring s;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
      s += text[i];
      if (text[i] == L'"') ++i;  // "" stands for one quote
    }
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return V_BSTR(value) ? S_OK : E_OUTOFMEMORY;
  }
  wchar_t kind = text.back();
  std::wstring digits = (kind == L'%' || kind == L'!' || kind == L'#' || kind == L'@')
                            ? text.substr(0, text.size() - 1)
                            : text;
  // Numbers are written the same in every locale: parse them in the invariant one.
  VARTYPE type = VT_I4;
  if (kind == L'%')
    type = VT_I2;
  else if (kind == L'!')
    type = VT_R4;
  else if (kind == L'#')
    type = VT_R8;
  else if (kind == L'@')
    type = VT_CY;
  else if (remark == L"True" || remark == L"False")
    type = VT_BOOL;
  VARIANT source;
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocStringLen(digits.data(), static_cast<UINT>(digits.size()));
  if (!V_BSTR(&source)) return E_OUTOFMEMORY;
  HRESULT hr = VariantChangeTypeEx(value, &source, LOCALE_INVARIANT, 0,
                                   type == VT_BOOL ? static_cast<VARTYPE>(VT_I4) : type);
  VariantClear(&source);
  if (FAILED(hr)) return hr;
  if (type == VT_BOOL) {
    LONG n = V_I4(value);
    V_VT(value) = VT_BOOL;
    V_BOOL(value) = n ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

FormFile FormFile::Read(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw HostError("reading the form " + Utf8(path), HRESULT_FROM_WIN32(GetLastError()));
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  CloseHandle(file);

  FormFile form;
  form.entries.clear();
  std::wistringstream lines(Wide(bytes));
  std::wstring line;
  int number = 0;
  enum { kBefore, kInside, kAfter } where = kBefore;
  auto bad = [&](const char* why) {
    return HostError("the form " + Utf8(path) + ", line " + std::to_string(number) + ": " + why,
                     E_INVALIDARG);
  };
  while (std::getline(lines, line)) {
    ++number;
    std::wstring t = Trim(line);
    if (t.empty() || t.front() == L'\'') continue;
    if (where == kBefore) {
      std::wistringstream words(t);
      std::wstring begin, kind, name;
      words >> begin >> kind >> name;
      if (begin != L"Begin" || kind != Wide(kClassName))
        throw bad("expected \"Begin Wendrix.DSWendrixControl NAME\"");
      if (!name.empty()) form.name = name;
      where = kInside;
    } else if (where == kInside) {
      if (t == L"End") {
        where = kAfter;
        continue;
      }
      size_t eq = t.find(L'=');
      if (eq == std::wstring::npos) throw bad("expected \"Key = value\"");
      std::wstring key = Trim(t.substr(0, eq));
      std::wstring value = Trim(t.substr(eq + 1));
      VARIANT check;
      if (key.empty() || FAILED(TextToValue(value, &check))) throw bad("a value cannot be read");
      VariantClear(&check);
      form.entries.emplace_back(key, value);
    } else {
      throw bad("text after \"End\"");
    }
  }
  if (where != kAfter) throw bad("no \"End\"");
  return form;
}

std::string FormFile::Text() const {
  std::string text = "Begin " + std::string(kClassName) + " " + Utf8(name) + "\r\n";
  for (const auto& [key, value] : entries) {
    std::string k = Utf8(key);
    if (k.size() < 16) k.resize(16, ' ');
    text += "   " + k + "=   " + Utf8(value) + "\r\n";
  }
  return text + "End\r\n";
}

void FormFile::Write(const std::wstring& path) const {
  std::string text = Text();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw HostError("writing the form " + Utf8(path), HRESULT_FROM_WIN32(GetLastError()));
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok || written != text.size())
    throw HostError("writing the form " + Utf8(path), HRESULT_FROM_WIN32(error));
}

ComPtr<IPropertyBag> MakeFormBag(FormFile* form) {
  ComPtr<IPropertyBag> bag;
  bag.Attach(new FormBag(form));
  return bag;
}

}  // namespace wendrix::host
