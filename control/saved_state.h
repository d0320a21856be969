// The saved state of a control as a stream of bytes: what IPersistStreamInit and the "Contents"
// stream of IPersistStorage hold. The same fourteen values a property bag holds, in the order
// written, each with its Variant type.
//
// Version 1, little-endian:
//   "WDXP"  u16 version  u16 count  u32 body bytes
//   count entries: u8 key length, key (ASCII), u16 variant type, value
//     (Integer/Boolean 2 bytes, Long/Error/Single 4, Double/Currency 8, Empty none,
//      String u32 length + UTF-8 bytes; also Null none, Date 8, SByte/Byte 1, UShort 2,
//      ULong/Int/UInt 4, LongLong/ULongLong 8, Decimal u8 scale, u8 sign, u32 hi, u64 lo).
// Readers take keys by name. A state of a later version is read forward (what this reader knows,
// the rest skipped: the version rule is written where the header is parsed); anything malformed
// is refused (STG_E_DOCFILECORRUPT), never reading or allocating beyond what the header allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/container.h"

namespace wendrix {

// The platform error a refused stream fails with.
inline constexpr uint32_t kDocfileCorrupt = 0x80030109;  // STG_E_DOCFILECORRUPT

// The values in memory, in the order written.
class MemoryBag : public PropertyBag {
 public:
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;
  const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, Variant>> entries_;
};

inline constexpr size_t kSavedStateHeaderBytes = 12;

struct SavedStateHeader {
  uint16_t version = 0;
  uint16_t count = 0;
  uint32_t body_bytes = 0;
};

std::vector<uint8_t> SerializeBag(const MemoryBag& bag);
// The header's promises, checked (magic, version, limits); throws Error::Platform.
SavedStateHeader ParseSavedStateHeader(const uint8_t (&header)[kSavedStateHeaderBytes]);
// The header's `count` entries, which in its own version or an earlier one must fill `body`
// exactly; in a later version, those it can read. Throws Error::Platform.
MemoryBag ParseSavedStateBody(const SavedStateHeader& header, const uint8_t* body, size_t size);
// A whole saved state at the start of `data` (bytes after it are left alone).
MemoryBag ParseSavedState(const uint8_t* data, size_t size);

}  // namespace wendrix
