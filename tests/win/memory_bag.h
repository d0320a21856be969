// A host's property bag in memory: keeps what is written, in the order written, and reads it
// back as a value (a reference it was given reads as what it refers to).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <map>
#include <string>
#include <vector>

namespace wendrix::test {

class MemoryBag final : public IPropertyBag {
 public:
  MemoryBag() = default;
  MemoryBag(const MemoryBag&) = delete;
  MemoryBag& operator=(const MemoryBag&) = delete;
  ~MemoryBag() {
    for (auto& [key, value] : values) VariantClear(&value);
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid != IID_IUnknown && riid != IID_IPropertyBag) return *out = nullptr, E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  // Lives on the test's stack: the counts mean nothing.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!value) return E_POINTER;
    if (fail_reads) return fail_reads;
    auto it = values.find(name);
    if (it == values.end()) return missing;
    return VariantCopyInd(value, &it->second);
  }
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
    order.push_back(name);
    VARIANT& slot = values[name];
    VariantClear(&slot);
    return VariantCopy(&slot, value);
  }

  std::map<std::wstring, VARIANT> values;
  std::vector<std::wstring> order;  // every key written, in order
  HRESULT fail_reads = S_OK;        // what every Read returns instead, when not S_OK
  HRESULT missing = E_INVALIDARG;   // what a Read of a key not held returns
};

}  // namespace wendrix::test
