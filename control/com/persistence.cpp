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
  // A bag reports a key it does not hold with E_INVALIDARG.
  if (hr == E_INVALIDARG) return default_value;
  if (FAILED(hr)) throw Error::Platform(static_cast<uint32_t>(hr), "IPropertyBag::Read " + key);
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
  if (!log_ || last_key_.empty()) return;
  try {
    const std::wstring name = win32::Wide(last_key_);
    const std::wstring description = win32::Wide(error.description());
    EXCEPINFO info{};
    info.bstrSource = SysAllocString(kErrorSource);
    info.bstrDescription = SysAllocString(description.c_str());
    const auto hr = static_cast<HRESULT>(error.hresult());
    info.scode = FAILED(hr) ? hr : E_FAIL;
    log_->AddError(name.c_str(), &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
  } catch (...) {
    // Without memory for the entry the load still fails as it would have.
  }
}

MemoryBag ReadBag(IStream* stream) {
  uint8_t header[kSavedStateHeaderBytes];
  ReadExactly(stream, header, kSavedStateHeaderBytes);
  const SavedStateHeader h = ParseSavedStateHeader(header);
  std::vector<uint8_t> body(h.body_bytes);
  if (h.body_bytes) ReadExactly(stream, body.data(), h.body_bytes);
  return ParseSavedStateBody(h.count, body.data(), body.size());
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
