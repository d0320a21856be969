#include "control/saved_state.h"

#include <cstring>
#include <optional>

#include "platform/error.h"

namespace wendrix {
namespace {

constexpr char kMagic[4] = {'W', 'D', 'X', 'P'};
// The layout this code writes. See ParseSavedStateHeader for what a reader does with another.
constexpr uint16_t kVersion = 1;
// Far above what fourteen values need; a larger claim is junk, not a reason to allocate.
constexpr uint32_t kMaxBodyBytes = 1 << 20;
constexpr uint16_t kMaxEntries = 256;
constexpr size_t kMaxKey = 64;

[[noreturn]] void Corrupt(const char* what) {
  throw Error::Platform(kDocfileCorrupt,
                        std::string("The saved state of the control is damaged: ") + what);
}

class Writer {
 public:
  template <typename T>
  void Put(T value) {
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
  }
  void PutBytes(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  std::vector<uint8_t> bytes;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <typename T>
  T Get() {
    if (size_ - pos_ < sizeof(T)) Corrupt("a value runs past the end");
    T value;
    std::memcpy(&value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }
  std::string GetBytes(size_t n) {
    if (size_ - pos_ < n) Corrupt("a text runs past the end");
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  bool AtEnd() const { return pos_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void PutValue(Writer& w, const Variant& v) {
  w.Put<uint16_t>(static_cast<uint16_t>(v.type()));
  switch (v.type()) {
    case VarType::Empty:
      break;
    case VarType::Integer:
      w.Put<int16_t>(v.integer());
      break;
    case VarType::Long:
      w.Put<int32_t>(v.long_value());
      break;
    case VarType::Single:
      w.Put<float>(v.single());
      break;
    case VarType::Double:
      w.Put<double>(v.double_value());
      break;
    case VarType::Currency:
      w.Put<int64_t>(v.currency().ten_thousandths);
      break;
    case VarType::String:
      w.Put<uint32_t>(static_cast<uint32_t>(v.string().size()));
      w.PutBytes(v.string());
      break;
    case VarType::Error:
      w.Put<int32_t>(v.error_code());
      break;
    case VarType::Boolean:
      w.Put<int16_t>(v.boolean());
      break;
    case VarType::Null:
      break;
    case VarType::Date:
      w.Put<double>(v.date());
      break;
    case VarType::Decimal:
      w.Put<uint8_t>(v.decimal().scale);
      w.Put<uint8_t>(v.decimal().sign);
      w.Put<uint32_t>(v.decimal().hi32);
      w.Put<uint64_t>(v.decimal().lo64);
      break;
    case VarType::SByte:
    case VarType::Byte:
      w.Put<uint8_t>(static_cast<uint8_t>(v.other_integer()));
      break;
    case VarType::UShort:
      w.Put<uint16_t>(static_cast<uint16_t>(v.other_integer()));
      break;
    case VarType::ULong:
    case VarType::Int:
    case VarType::UInt:
      w.Put<uint32_t>(static_cast<uint32_t>(v.other_integer()));
      break;
    case VarType::LongLong:
    case VarType::ULongLong:
      w.Put<int64_t>(v.other_integer());
      break;
  }
}

// The value of an entry, or nothing when its type is none this reader knows.
std::optional<Variant> GetValue(Reader& r) {
  switch (static_cast<VarType>(r.Get<uint16_t>())) {
    case VarType::Empty:
      return Variant();
    case VarType::Integer:
      return Variant::Integer(r.Get<int16_t>());
    case VarType::Long:
      return Variant::Long(r.Get<int32_t>());
    case VarType::Single:
      return Variant::Single(r.Get<float>());
    case VarType::Double:
      return Variant::Double(r.Get<double>());
    case VarType::Currency:
      return Variant::Cy(Currency{r.Get<int64_t>()});
    case VarType::String: {
      uint32_t n = r.Get<uint32_t>();
      return Variant::String(r.GetBytes(n));
    }
    case VarType::Error:
      return Variant::ErrorCode(r.Get<int32_t>());
    case VarType::Boolean:
      return Variant::Bool(r.Get<int16_t>());
    case VarType::Null:
      return Variant::Null();
    case VarType::Date:
      return Variant::Date(r.Get<double>());
    case VarType::Decimal: {
      Decimal d;
      d.scale = r.Get<uint8_t>();
      d.sign = r.Get<uint8_t>();
      d.hi32 = r.Get<uint32_t>();
      d.lo64 = r.Get<uint64_t>();
      if (d.scale > 28 || (d.sign & 0x7F) != 0) Corrupt("a Decimal is out of range");
      return Variant::Dec(d);
    }
    case VarType::SByte:
      return Variant::OtherInteger(VarType::SByte, r.Get<int8_t>());
    case VarType::Byte:
      return Variant::OtherInteger(VarType::Byte, r.Get<uint8_t>());
    case VarType::UShort:
      return Variant::OtherInteger(VarType::UShort, r.Get<uint16_t>());
    case VarType::ULong:
      return Variant::OtherInteger(VarType::ULong, r.Get<uint32_t>());
    case VarType::Int:
      return Variant::OtherInteger(VarType::Int, r.Get<int32_t>());
    case VarType::UInt:
      return Variant::OtherInteger(VarType::UInt, r.Get<uint32_t>());
    case VarType::LongLong:
      return Variant::OtherInteger(VarType::LongLong, r.Get<int64_t>());
    case VarType::ULongLong:
      return Variant::OtherInteger(VarType::ULongLong, r.Get<int64_t>());
  }
  return std::nullopt;
}

}  // namespace

Variant MemoryBag::ReadProperty(const std::string& key, const Variant& default_value) {
  for (const auto& [k, v] : entries_)
    if (k == key) return v;
  return default_value;
}

void MemoryBag::WriteProperty(const std::string& key, const Variant& value, const Variant&) {
  for (auto& [k, v] : entries_) {
    if (k == key) {
      v = value;
      return;
    }
  }
  entries_.emplace_back(key, value);
}

std::vector<uint8_t> SerializeBag(const MemoryBag& bag) {
  Writer body;
  for (const auto& [key, value] : bag.entries()) {
    body.Put<uint8_t>(static_cast<uint8_t>(key.size()));
    body.PutBytes(key);
    PutValue(body, value);
  }
  Writer all;
  all.PutBytes(std::string(kMagic, 4));
  all.Put<uint16_t>(kVersion);
  all.Put<uint16_t>(static_cast<uint16_t>(bag.entries().size()));
  all.Put<uint32_t>(static_cast<uint32_t>(body.bytes.size()));
  all.bytes.insert(all.bytes.end(), body.bytes.begin(), body.bytes.end());
  return all.bytes;
}

// The version rule. Every version keeps this header and the entry layout (key, type, value);
// the version number goes up only when a writer puts something there that an older reader
// cannot step over: a value type of its own, or bytes after the last entry. New properties are
// new keys and need no new version: readers take keys by name and skip those they don't know.
// So a state of a later version is read forward: its entries as far as this reader knows their
// types (an entry of an unknown type cannot be measured, so reading ends there, keeping what
// came before), and whatever follows in the body is skipped. A state of this version or an
// earlier one must be exactly what it says.
SavedStateHeader ParseSavedStateHeader(const uint8_t (&header)[kSavedStateHeaderBytes]) {
  Reader h(header, kSavedStateHeaderBytes);
  if (h.GetBytes(4) != std::string(kMagic, 4)) Corrupt("it is not a Wendrix state");
  SavedStateHeader out;
  out.version = h.Get<uint16_t>();
  out.count = h.Get<uint16_t>();
  out.body_bytes = h.Get<uint32_t>();
  if (out.version == 0) Corrupt("version 0");
  if (out.count > kMaxEntries || out.body_bytes > kMaxBodyBytes)
    Corrupt("its size is out of range");
  return out;
}

MemoryBag ParseSavedStateBody(const SavedStateHeader& header, const uint8_t* body, size_t size) {
  const bool later = header.version > kVersion;
  Reader r(body, size);
  MemoryBag bag;
  for (uint16_t i = 0; i < header.count; ++i) {
    uint8_t n = r.Get<uint8_t>();
    if (n == 0 || n > kMaxKey) Corrupt("a key has a bad length");
    std::string key = r.GetBytes(n);
    for (char c : key)
      if (c < 0x21 || c > 0x7E) Corrupt("a key is not plain text");
    std::optional<Variant> value = GetValue(r);
    if (!value) {
      if (later) return bag;
      Corrupt("a value has an unknown type");
    }
    bag.WriteProperty(key, *value, Variant());
  }
  if (!later && !r.AtEnd()) Corrupt("bytes follow the last value");
  return bag;
}

MemoryBag ParseSavedState(const uint8_t* data, size_t size) {
  uint8_t header[kSavedStateHeaderBytes];
  if (size < kSavedStateHeaderBytes) Corrupt("the stream ends early");
  std::memcpy(header, data, kSavedStateHeaderBytes);
  const SavedStateHeader h = ParseSavedStateHeader(header);
  if (size - kSavedStateHeaderBytes < h.body_bytes) Corrupt("the stream ends early");
  return ParseSavedStateBody(h, data + kSavedStateHeaderBytes, h.body_bytes);
}

}  // namespace wendrix
