// The core's readers and coercions fed with arbitrary bytes: number text, Variant coercions, a
// restore from any property bag followed by Init_DSWendrix, the saved-state stream reader and
// the UTF-16 file-name conversions, under libFuzzer, AddressSanitizer and
// UndefinedBehaviorSanitizer (the `fuzz` preset).
//
// Besides not crashing, each input must keep these promises (a broken one aborts):
//   - a coercion to Integer that succeeds gives the same value as the one to Long (text in
//     "&H" or "&O" and unsigned values aside, which may be bit patterns of the target), and a
//     coercion to Long lies within one half of the Double the value converts to;
//   - Init_DSWendrix succeeds only for one of the twelve supported formats and, with
//     AutoCalculateBuff off, a ring the device takes;
//   - what a restored control saves, and any stream the reader accepts, reads back the same;
//   - UTF-16 text survives UTF-8 and back, and a name is refused exactly when it holds a NUL
//     or an unpaired surrogate.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/saved_state.h"
#include "platform/error.h"
#include "platform/number_text.h"
#include "platform/sim/sim_capture.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_host.h"
#include "platform/utf16.h"
#include "platform/variant.h"
#include "recording/format.h"

namespace wendrix {
namespace {

[[noreturn]] void Broken(const char* promise) {
  std::fprintf(stderr, "core_fuzz: broken promise: %s\n", promise);
  std::abort();
}
#define PROMISE(condition)                \
  do {                                    \
    if (!(condition)) Broken(#condition); \
  } while (0)

// Takes typed values off the front of the input; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <typename T>
  T Take() {
    T value{};
    const size_t n = std::min(sizeof(T), size_ - pos_);
    std::memcpy(&value, data_ + pos_, n);
    pos_ += n;
    return value;
  }
  std::string Text(size_t most) {
    const size_t n = std::min<size_t>(Take<uint8_t>() % (most + 1), size_ - pos_);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return s;
  }
  bool empty() const { return pos_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

const char* const kKeys[] = {"Enabled",        "BufferLength",  "SamplesPerSecond",
                             "NumChannels",    "BitsPerSample", "AutoCalculateBuff",
                             "BufferPosition", "BackColor",     "BackStyle",
                             "BorderStyle",    "ShowVU",        "ShowVUScale",
                             "dBLeft",         "dBRight",       "Junk"};

// Number-like text more often than not: what a damaged form or a careless host hands over.
std::string SomeText(Input& in) {
  static const char* const kPieces[] = {
      "1",     "0",  "9", "5", ".", ",", "e", "E",    "-",       "+",        "&H",
      "&O",    "F",  "7", " ", "(", ")", "$", "True", "#FALSE#", "\xC2\xA0", "\xE3\x80\x80",
      "1e308", "4.5"};
  std::string s;
  const int n = in.Take<uint8_t>() % 24;
  for (int i = 0; i < n; ++i) {
    const uint8_t pick = in.Take<uint8_t>();
    if (pick < 200) {
      s += kPieces[pick % std::size(kPieces)];
    } else {
      s += static_cast<char>(in.Take<uint8_t>());
    }
  }
  return s;
}

Variant SomeVariant(Input& in) {
  switch (in.Take<uint8_t>() % 20) {
    case 0:
      return Variant();
    case 1:
      return Variant::Null();
    case 2:
      return Variant::Integer(in.Take<int16_t>());
    case 3:
      return Variant::Long(in.Take<int32_t>());
    case 4:
      return Variant::Single(in.Take<float>());
    case 5:
      return Variant::Double(in.Take<double>());
    case 6:
      return Variant::Cy(Currency{in.Take<int64_t>()});
    case 7:
      return Variant::Date(in.Take<double>());
    case 8:
      return Variant::String(SomeText(in));
    case 9:
      return Variant::ErrorCode(in.Take<int32_t>());
    case 10:
      return Variant::Bool(in.Take<int16_t>());
    case 11: {
      Decimal d;
      d.scale = in.Take<uint8_t>() % 29;
      d.sign = in.Take<uint8_t>() & 0x80;
      d.hi32 = in.Take<uint32_t>();
      d.lo64 = in.Take<uint64_t>();
      return Variant::Dec(d);
    }
    case 12:
      return Variant::OtherInteger(VarType::SByte, in.Take<int8_t>());
    case 13:
      return Variant::OtherInteger(VarType::Byte, in.Take<uint8_t>());
    case 14:
      return Variant::OtherInteger(VarType::UShort, in.Take<uint16_t>());
    case 15:
      return Variant::OtherInteger(VarType::ULong, in.Take<uint32_t>());
    case 16:
      return Variant::OtherInteger(VarType::LongLong, in.Take<int64_t>());
    case 17:
      return Variant::OtherInteger(VarType::ULongLong, in.Take<int64_t>());
    case 18:
      return Variant::OtherInteger(VarType::Int, in.Take<int32_t>());
    default: {
      // One of the twelve format values, so that a restore can pass.
      static const int32_t kGood[] = {11025, 22050, 44100, 1, 2, 8, 16, 176400, 22050, 3};
      return Variant::Long(kGood[in.Take<uint8_t>() % std::size(kGood)]);
    }
  }
}

void Coercions(const Variant& v) {
  bool have_double = false, have_long = false;
  double d = 0;
  int32_t l = 0;
  try {
    d = v.ToDouble();
    have_double = true;
  } catch (const Error&) {
  }
  try {
    l = v.ToLong();
    have_long = true;
  } catch (const Error&) {
  }
  // "&HFFFF" and the unsigned types of the target's width convert as bit patterns (a UShort
  // 65535 is -1 as an Integer, 65535 as a Long), not by value.
  const bool pattern = v.type() == VarType::String || v.type() == VarType::UShort ||
                       v.type() == VarType::ULong || v.type() == VarType::UInt;
  try {
    const int16_t i = v.ToInteger();
    PROMISE(have_long && (i == l || pattern));
  } catch (const Error&) {
  }
  try {
    (void)v.ToBoolean();
  } catch (const Error&) {
  }
  (void)NumericEquals(v, -200);
  if (have_long && have_double && std::isfinite(d) && !pattern)
    PROMISE(std::fabs(d - l) <= 0.5 + 1e-9 * std::fabs(d));
}

void NumberText(const std::string& text) {
  number_text::Number number;
  if (number_text::Read(text, number) == number_text::Outcome::Ok) {
    double d = 0;
    int32_t i = 0;
    (void)number_text::ToDouble(number, d);
    (void)number_text::ToInteger(number, 16, i);
    (void)number_text::ToInteger(number, 32, i);
  }
  double parsed = 0;
  (void)ParseNumber(text, parsed);
  Coercions(Variant::String(text));
}

// Compared as bytes: a NaN is never equal to itself as a number.
bool SameEntries(const MemoryBag& a, const MemoryBag& b) {
  return SerializeBag(a) == SerializeBag(b);
}

// A control restored from `bag`, initialised, and saved again.
void RestoreAndInit(PropertyBag& bag) {
  sim::SimHost host;
  sim::SimCaptureSystem capture;
  sim::SimFileSystem files;
  Control control{Platform{host, host, host, host, capture, files}};
  control.Initialize();
  try {
    control.ReadProperties(bag);
  } catch (const Error&) {
  }
  const ControlState& s = control.state();
  try {
    control.Init_DSWendrix();
    PROMISE(IsAcceptedSampleRate(s.SampleRate) && IsAcceptedChannelCount(s.ChannelCount) &&
            IsAcceptedSampleBits(s.SampleBits));
    PROMISE(s.BufferBytes >= s.DeviceFormat.nBlockAlign && s.BufferBytes <= kLargestRing);
  } catch (const Error&) {
    PROMISE(s.DeviceReady == False);
  }
  MemoryBag saved;
  control.WriteProperties(saved);
  const std::vector<uint8_t> bytes = SerializeBag(saved);
  PROMISE(SameEntries(ParseSavedState(bytes.data(), bytes.size()), saved));
}

void Bag(Input& in) {
  MemoryBag bag;
  const int n = in.Take<uint8_t>() % 20;
  for (int i = 0; i < n; ++i) {
    const char* key = kKeys[in.Take<uint8_t>() % std::size(kKeys)];
    bag.WriteProperty(key, SomeVariant(in), Variant());
  }
  for (const auto& entry : bag.entries()) Coercions(entry.second);
  RestoreAndInit(bag);
}

void Stream(const std::string& bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  MemoryBag bag;
  try {
    bag = ParseSavedState(data, bytes.size());
  } catch (const Error& e) {
    PROMISE(e.hresult() == kDocfileCorrupt);
    return;
  }
  const std::vector<uint8_t> again = SerializeBag(bag);
  PROMISE(SameEntries(ParseSavedState(again.data(), again.size()), bag));
  RestoreAndInit(bag);
}

void Utf(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  const std::string utf8 = Utf8FromUtf16(units.data(), units.size());
  bool lone = false;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      lone = true;
    }
  }
  const bool nul = units.find(u'\0') != std::u16string::npos;
  PROMISE(FileNameProblem(utf8).empty() == (!lone && !nul));
  std::u16string back;
  PROMISE(Utf16FromUtf8(utf8, back) == !lone);
  if (!lone) PROMISE(back == units);
  // Any bytes as UTF-8: what is accepted converts back to the same bytes.
  if (Utf16FromUtf8(bytes, back)) PROMISE(Utf8FromUtf16(back.data(), back.size()) == bytes);
}

}  // namespace
}  // namespace wendrix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wendrix;
  Input in(data, size);
  switch (in.Take<uint8_t>() % 5) {
    case 0:
      NumberText(in.Rest());
      break;
    case 1:
      while (!in.empty()) Coercions(SomeVariant(in));
      break;
    case 2:
      Bag(in);
      break;
    case 3:
      Stream(in.Rest());
      break;
    default:
      Utf(in.Rest());
      break;
  }
  return 0;
}
