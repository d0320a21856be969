#include "control/com/persistence.h"

#include <cstring>

#include "control/com/boundary.h"
#include "platform/error.h"
#include "platform/win32/text.h"

namespace wendrix::com {
namespace {

constexpr char kMagic[4] = {'W', 'D', 'X', 'P'};
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderBytes = 12;
// Far above what fourteen values need; a larger claim is junk, not a reason to allocate.
constexpr uint32_t kMaxBodyBytes = 1 << 20;
constexpr uint16_t kMaxEntries = 256;
constexpr size_t kMaxKey = 64;

[[noreturn]] void Corrupt(const char* what) {
  throw Error::Platform(static_cast<uint32_t>(STG_E_DOCFILECORRUPT),
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

Variant GetValue(Reader& r) {
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
  Corrupt("a value has an unknown type");
}

void ReadExactly(IStream* stream, void* buffer, ULONG size) {
  ULONG got = 0;
  HRESULT hr = stream->Read(buffer, size, &got);
  if (FAILED(hr)) throw Error::Platform(static_cast<uint32_t>(hr), "IStream::Read");
  if (got != size) Corrupt("the stream ends early");
}

}  // namespace

Variant HostPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
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

MemoryBag ReadBag(IStream* stream) {
  uint8_t header[kHeaderBytes];
  ReadExactly(stream, header, kHeaderBytes);
  Reader h(header, kHeaderBytes);
  if (h.GetBytes(4) != std::string(kMagic, 4)) Corrupt("it is not a Wendrix state");
  uint16_t version = h.Get<uint16_t>();
  uint16_t count = h.Get<uint16_t>();
  uint32_t size = h.Get<uint32_t>();
  if (version == 0) Corrupt("version 0");
  if (version > kVersion)
    throw Error::Platform(static_cast<uint32_t>(STG_E_OLDDLL),
                          "The control's state was saved by a later version of Wendrix");
  if (count > kMaxEntries || size > kMaxBodyBytes) Corrupt("its size is out of range");

  std::vector<uint8_t> body(size);
  if (size) ReadExactly(stream, body.data(), size);
  Reader r(body.data(), body.size());
  MemoryBag bag;
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t n = r.Get<uint8_t>();
    if (n == 0 || n > kMaxKey) Corrupt("a key has a bad length");
    std::string key = r.GetBytes(n);
    for (char c : key)
      if (c < 0x21 || c > 0x7E) Corrupt("a key is not plain text");
    bag.WriteProperty(key, GetValue(r), Variant());
  }
  if (!r.AtEnd()) Corrupt("bytes follow the last value");
  return bag;
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
