// The saved state of a control as the core sees it (a PropertyBag) in the three forms a host
// may keep it: the host's own IPropertyBag, and a binary stream (IPersistStreamInit, and the
// "Contents" stream of an IPersistStorage) holding the same fourteen values.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "control/saved_state.h"
#include "platform/container.h"
#include "platform/error.h"

namespace wendrix::com {

// The host's IPropertyBag. A key the bag cannot read, whatever code it gives, reads as the
// default (told to the host's error log, unless the code is the usual E_INVALIDARG); a value
// that is there and that the control cannot take fails with an Error.
class HostPropertyBag : public PropertyBag {
 public:
  HostPropertyBag(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;
  // Tells the host's error log (if it gave one) that the value read last failed with `error`,
  // under the property's name, as a form's or a web page's diagnostics show it.
  void LogFailure(const Error& error) noexcept;

 private:
  // Adds an entry under `key` to the host's error log, if it gave one.
  void Log(const std::string& key, HRESULT hr, const std::string& description) noexcept;

  IPropertyBag* bag_;
  IErrorLog* log_;
  std::string last_key_;
};

// The byte form of control/saved_state.h on a stream.
// Reads one saved state from the stream's position and leaves the position after it.
MemoryBag ReadBag(IStream* stream);
void WriteBag(IStream* stream, const MemoryBag& bag);

// The name of the stream inside an IPersistStorage storage.
inline constexpr wchar_t kContentsStream[] = L"Contents";

}  // namespace wendrix::com
