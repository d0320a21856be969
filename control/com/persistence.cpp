#include "control/com/persistence.h"

#include <cstring>

#include "control/com/boundary.h"
#include "platform/error.h"
#include "platform/win32/text.h"

namespace wendrix::com {
namespace {

void ReadExactly(IStream* stream, void* buffer, ULONG size) {
  ULONG got = 0;
  HRESULT hr = stream->Read(buffer, size, &got);
  if (FAILED(hr)) throw Error::Platform(static_cast<uint32_t>(hr), "IStream::Read");
  if (got != size)
    throw Error::Platform(kDocfileCorrupt,
                          "The saved state of the control is damaged: the stream ends early");
}

}  // namespace

Variant HostPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
  last_key_ = key;
  std::wstring name = win32::Wide(key);
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = bag_->Read(name.c_str(), &value, log_);
  // Containers say "not saved" in words of their own (E_INVALIDARG, E_FAIL, ERROR_NOT_FOUND,
  // ...): any failed read is a key not saved, which keeps its default. A form saved before a
  // property existed must still load. Only a value that is there and cannot be taken fails.
  if (FAILED(hr)) {
    VariantClear(&value);
    if (hr != E_INVALIDARG) Log(key, hr, "The saved value could not be read; the default is kept");
    return default_value;
  }
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&value};
  return FromVariant(value);
}

void HostPropertyBag::WriteProperty(const std::string& key, const Variant& value, const Variant&) {
  std::wstring name = win32::Wide(key);
  VARIANT v;
  ToVariant(value, &v);
  HRESULT hr = bag_->Write(name.c_str(), &v);
  VariantClear(&v);
  if (FAILED(hr)) throw Error::Platform(static_cast<uint32_t>(hr), "IPropertyBag::Write " + key);
}

void HostPropertyBag::LogFailure(const Error& error) noexcept {
  if (last_key_.empty()) return;
  const auto hr = static_cast<HRESULT>(error.hresult());
  Log(last_key_, FAILED(hr) ? hr : E_FAIL, error.description());
}

void HostPropertyBag::Log(const std::string& key, HRESULT hr,
                          const std::string& description) noexcept {
  if (!log_) return;
  try {
    const std::wstring name = win32::Wide(key);
    const std::wstring text = win32::Wide(description);
    EXCEPINFO info{};
    info.bstrSource = SysAllocString(kErrorSource);
    info.bstrDescription = SysAllocString(text.c_str());
    info.scode = hr;
    log_->AddError(name.c_str(), &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
  } catch (...) {
    // Without memory for the entry the load goes on as it would have.
  }
}

MemoryBag ReadBag(IStream* stream) {
  uint8_t header[kSavedStateHeaderBytes];
  ReadExactly(stream, header, kSavedStateHeaderBytes);
  const SavedStateHeader h = ParseSavedStateHeader(header);
  std::vector<uint8_t> body(h.body_bytes);
  if (h.body_bytes) ReadExactly(stream, body.data(), h.body_bytes);
  return ParseSavedStateBody(h, body.data(), body.size());
}

void WriteBag(IStream* stream, const MemoryBag& bag) {
  std::vector<uint8_t> bytes = SerializeBag(bag);
  ULONG written = 0;
  HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  if (FAILED(hr)) throw Error::Platform(static_cast<uint32_t>(hr), "IStream::Write");
  if (written != bytes.size())
    throw Error::Platform(static_cast<uint32_t>(STG_E_MEDIUMFULL), "IStream::Write");
}

}  // namespace wendrix::com
