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

#include "platform/container.h"

namespace wendrix::com {

// The host's IPropertyBag. A key the bag does not hold reads as the default; any other
// failure of the bag, or a value the control cannot take, fails with an Error.
class HostPropertyBag : public PropertyBag {
 public:
  HostPropertyBag(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
};

// The values in memory, in the order written; the form the stream format reads and writes.
class MemoryBag : public PropertyBag {
 public:
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;
  const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, Variant>> entries_;
};

// The stream format, version 1, little-endian:
//   "WDXP"  u16 version  u16 count  u32 body bytes
//   count entries: u8 key length, key (ASCII), u16 variant type, value
//     (Integer/Boolean 2 bytes, Long/Error/Single 4, Double/Currency 8, Empty none,
//      String u32 length + UTF-8 bytes; also Null none, Date 8, SByte/Byte 1, UShort 2,
//      ULong/Int/UInt 4, LongLong/ULongLong 8, Decimal u8 scale, u8 sign, u32 hi, u64 lo).
// A reader of a later version keeps reading keys by name; a version-1 reader refuses a
// later version (STG_E_OLDDLL) and anything malformed (STG_E_DOCFILECORRUPT).
std::vector<uint8_t> SerializeBag(const MemoryBag& bag);
// Reads one saved state from the stream's position and leaves the position after it.
MemoryBag ReadBag(IStream* stream);
void WriteBag(IStream* stream, const MemoryBag& bag);

// The name of the stream inside an IPersistStorage storage.
inline constexpr wchar_t kContentsStream[] = L"Contents";

}  // namespace wendrix::com
