// Saving and restoring the control: the host's property bag, a stream and a storage, and what
// a restore does with values it cannot take.
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <random>

#include "tests/win/com_fixture.h"
#include "tests/win/memory_bag.h"

namespace wendrix::com_test {
namespace {

using Bag = test::MemoryBag;

LONG Get(IDispatch* control, DISPID id) {
  Outcome out;
  Invoke(control, id, DISPATCH_PROPERTYGET, {}, out);
  EXPECT_EQ(out.hr, S_OK) << std::hex << id;
  return out.result.AsLong();
}

void Put(IDispatch* control, DISPID id, LONG value) {
  Var v = Var::I4(value);
  Outcome out;
  Invoke(control, id, DISPATCH_PROPERTYPUT, {&v}, out);
  EXPECT_EQ(out.hr, S_OK) << std::hex << id;
}

constexpr DISPID kEnabled = 0x6803000D, kSamples = 0x6803000C, kChannels = 0x6803000B,
                 kBits = 0x6803000A, kLength = 0x68030009, kAuto = 0x68030008,
                 kBackColor = 0x68030006, kBackStyle = 0x68030005, kBorder = 0x68030004,
                 kShowVU = 0x68030003, kScale = 0x68030002;

// A control with every persisted setting away from its default.
ComPtr<IDispatch> ChangedControl() {
  ComPtr<IDispatch> control = CreateControl();
  Put(control.Get(), kEnabled, -1);
  Put(control.Get(), kAuto, 0);
  Put(control.Get(), kLength, 4410);
  Put(control.Get(), kSamples, 11025);
  Put(control.Get(), kChannels, 1);
  Put(control.Get(), kBits, 8);
  Put(control.Get(), kBackColor, 0x123456);
  Put(control.Get(), kBackStyle, 1);
  Put(control.Get(), kBorder, 0);
  Put(control.Get(), kShowVU, 0);
  Put(control.Get(), kScale, 0);
  return control;
}

void ExpectChangedValues(IDispatch* control) {
  const std::pair<DISPID, LONG> expected[] = {
      {kEnabled, -1},         {kAuto, 0},      {kLength, 4410},
      {kSamples, 11025},      {kChannels, 1},  {kBits, 8},
      {kBackColor, 0x123456}, {kBackStyle, 1}, {kBorder, 0},
      {kShowVU, 0},           {kScale, 0}};
  for (const auto& [id, value] : expected) EXPECT_EQ(Get(control, id), value) << std::hex << id;
}

TEST(ComPersistence, NewControlWritesTheFourteenKeysInOrderWithTheirTypes) {
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(persist->GetClassID(&clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_DSWendrixControl));
  ASSERT_HRESULT_SUCCEEDED(persist->InitNew());
  Bag bag;
  ASSERT_HRESULT_SUCCEEDED(persist->Save(&bag, TRUE, TRUE));
  const struct {
    const wchar_t* key;
    VARTYPE vt;
    LONG value;
  } rows[] = {
      {L"Enabled", VT_BOOL, 0},
      {L"BufferLength", VT_I4, 176400},
      {L"SamplesPerSecond", VT_I4, 44100},
      {L"NumChannels", VT_I4, 2},
      {L"BitsPerSample", VT_I4, 16},
      {L"AutoCalculateBuff", VT_BOOL, -1},
      {L"BufferPosition", VT_I2, 0},
      {L"BackColor", VT_I4, 0x808080},
      {L"BackStyle", VT_I2, 0},
      {L"BorderStyle", VT_I2, 1},
      {L"ShowVU", VT_BOOL, -1},
      {L"ShowVUScale", VT_BOOL, -1},
      {L"dBLeft", VT_I2, -200},
      {L"dBRight", VT_I2, -200},
  };
  ASSERT_EQ(bag.order.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(bag.order[i], rows[i].key);
    const VARIANT& v = bag.values[rows[i].key];
    EXPECT_EQ(V_VT(&v), rows[i].vt) << i;
    VARIANT x;
    VariantInit(&x);
    ASSERT_HRESULT_SUCCEEDED(VariantChangeType(&x, const_cast<VARIANT*>(&v), 0, VT_I4));
    EXPECT_EQ(V_I4(&x), rows[i].value) << i;
  }
  persist.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComPersistence, PropertyBagRoundTrip) {
  ComPtr<IDispatch> saved = ChangedControl();
  ComPtr<IPersistPropertyBag> out;
  ASSERT_HRESULT_SUCCEEDED(saved.As(&out));
  Bag bag;
  ASSERT_HRESULT_SUCCEEDED(out->Save(&bag, TRUE, TRUE));

  ComPtr<IDispatch> restored = CreateControl();
  ComPtr<IPersistPropertyBag> in;
  ASSERT_HRESULT_SUCCEEDED(restored.As(&in));
  ASSERT_EQ(in->Load(&bag, nullptr), S_OK);
  ExpectChangedValues(restored.Get());

  Bag again;
  ASSERT_HRESULT_SUCCEEDED(in->Save(&again, TRUE, TRUE));
  EXPECT_EQ(again.order, bag.order);
  for (auto& [key, value] : bag.values)
    EXPECT_EQ(VarCmp(&value, &again.values[key], LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
  out.Reset();
  in.Reset();
  EXPECT_EQ(ReleaseLast(saved), 0u);
  EXPECT_EQ(ReleaseLast(restored), 0u);
}

TEST(ComPersistence, EmptyBagRestoresTheBagDefaultsWithEnabledTrue) {
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  Bag empty;
  ASSERT_EQ(persist->Load(&empty, nullptr), S_OK);
  EXPECT_EQ(Get(control.Get(), kEnabled), -1);
  EXPECT_EQ(Get(control.Get(), kSamples), 44100);
  EXPECT_EQ(Get(control.Get(), kBackColor), 0x808080);
  EXPECT_EQ(Get(control.Get(), kBorder), 1);
  persist.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComPersistence, ValuesARestoreCannotTakeFailWithTheirErrorNumbers) {
  const struct {
    const wchar_t* key;
    Var value;
    ULONG hr;
    const wchar_t* description;
  } rows[] = {
      {L"SamplesPerSecond", Var::Str(L"fast"), 0x800A000D, L"Type mismatch"},
      {L"NumChannels", Var::R8(1e10), 0x800A0006, L"Overflow"},
      {L"BackStyle", Var::I4(100000), 0x800A0006, L"Overflow"},
      {L"BackStyle", Var::I4(7), 0x800A017C,
       L"Invalid property value: a BackStyle of 7 is not one the control takes (0 TRANSPARENT or "
       L"1 OPAQUE)"},
  };
  for (const auto& row : rows) {
    ComPtr<IDispatch> control = CreateControl();
    ComPtr<IPersistPropertyBag> persist;
    ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
    Bag bag;
    bag.Write(L"Enabled", &Var::Bool(true));
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, const_cast<VARIANT*>(&row.value.v));
    bag.values[row.key] = copy;
    EXPECT_EQ(static_cast<ULONG>(persist->Load(&bag, nullptr)), row.hr);
    ErrorText info = TakeErrorInfo();
    EXPECT_EQ(info.description, row.description);
    EXPECT_EQ(info.source, L"Wendrix.DSWendrixControl");
    // The keys before the failing one are restored; the restore stops there.
    EXPECT_EQ(Get(control.Get(), kEnabled), -1);
    EXPECT_EQ(Get(control.Get(), kScale), 0) << "ShowVUScale was never read";
    persist.Reset();
    EXPECT_EQ(ReleaseLast(control), 0u);
  }

  // An object where a number belongs is a type mismatch.
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  Bag odd;
  VARIANT object;
  VariantInit(&object);
  V_VT(&object) = VT_UNKNOWN;
  V_UNKNOWN(&object) = &odd;
  odd.AddRef();
  odd.values[L"BufferLength"] = object;
  EXPECT_EQ(static_cast<ULONG>(persist->Load(&odd, nullptr)), 0x800A000Du);
  EXPECT_EQ(persist->Load(nullptr, nullptr), E_POINTER);
  odd.values.erase(L"BufferLength");  // it refers to the bag itself
  persist.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

// The form's load diagnostics: how many entries it was told.
struct CountingLog final : IErrorLog {
  STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, S_OK; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP AddError(LPCOLESTR, EXCEPINFO* info) override {
    last = static_cast<ULONG>(info->scode);
    return ++entries, S_OK;
  }
  int entries = 0;
  ULONG last = 0;
};

// Containers say "not saved" in their own words: whatever code a bag gives for a key it cannot
// read, the key keeps its default and the keys it holds are restored. The form's error log
// hears of each key not read, unless the code was the usual E_INVALIDARG.
TEST(ComPersistence, AKeyABagCannotReadKeepsItsDefault) {
  const HRESULT codes[] = {E_INVALIDARG, E_FAIL, HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                           E_ACCESSDENIED};
  for (HRESULT code : codes) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    ComPtr<IDispatch> control = ChangedControl();
    ComPtr<IPersistPropertyBag> persist;
    ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
    Bag bag;
    bag.missing = code;
    bag.Write(L"BackColor", &Var::I4(0x123456));
    CountingLog log;
    ASSERT_EQ(persist->Load(&bag, &log), S_OK);
    EXPECT_EQ(Get(control.Get(), kBackColor), 0x123456);
    EXPECT_EQ(Get(control.Get(), kSamples), 44100);
    EXPECT_EQ(Get(control.Get(), kBorder), 1);
    EXPECT_EQ(log.entries, code == E_INVALIDARG ? 0 : 13);
    EXPECT_EQ(log.last, code == E_INVALIDARG ? 0u : static_cast<ULONG>(code));
    // A bag that reads nothing at all: a new control's values.
    Bag broken;
    broken.fail_reads = code;
    ASSERT_EQ(persist->Load(&broken, nullptr), S_OK);
    EXPECT_EQ(Get(control.Get(), kBackColor), 0x808080);
    persist.Reset();
    EXPECT_EQ(ReleaseLast(control), 0u);
  }
}

// Every key with every kind of value a bag may hold: each restore succeeds or fails with a
// run-time error (13, 6 or 380), and the control stays usable.
TEST(ComPersistence, BagsHoldingAnyTypeRestoreOrFailCleanly) {
  const wchar_t* keys[] = {L"Enabled",        L"BufferLength",  L"SamplesPerSecond",
                           L"NumChannels",    L"BitsPerSample", L"AutoCalculateBuff",
                           L"BufferPosition", L"BackColor",     L"BackStyle",
                           L"BorderStyle",    L"ShowVU",        L"ShowVUScale",
                           L"dBLeft",         L"dBRight"};
  auto values = [] {
    std::vector<Var> v;
    auto of = [&](VARTYPE vt) -> VARIANT& {
      v.emplace_back();
      V_VT(&v.back().v) = vt;
      return v.back().v;
    };
    of(VT_EMPTY);
    of(VT_NULL);
    V_DATE(&of(VT_DATE)) = 45000.5;
    V_I8(&of(VT_I8)) = 1LL << 40;
    V_UI1(&of(VT_UI1)) = 200;
    V_R8(&of(VT_R8)) = std::numeric_limits<double>::quiet_NaN();
    V_R8(&of(VT_R8)) = -0.5;
    V_ERROR(&of(VT_ERROR)) = DISP_E_PARAMNOTFOUND;
    V_UNKNOWN(&of(VT_UNKNOWN)) = nullptr;
    V_DISPATCH(&of(VT_DISPATCH)) = nullptr;
    V_BSTR(&of(VT_BSTR)) = SysAllocString(L"");
    V_BSTR(&of(VT_BSTR)) = SysAllocString(L" 12 ");
    V_BSTR(&of(VT_BSTR)) = SysAllocString(L"True");
    V_BSTR(&of(VT_BSTR)) = SysAllocString(L"&H8000000F");
    V_ARRAY(&of(VT_ARRAY | VT_I4)) = SafeArrayCreateVector(VT_I4, 0, 3);
    DECIMAL d{};
    VarDecFromR8(123456.789, &d);
    of(VT_DECIMAL);
    v.back().v.decVal = d;
    V_VT(&v.back().v) = VT_DECIMAL;
    return v;
  }();
  const ULONG allowed[] = {S_OK, 0x800A000D, 0x800A0006, 0x800A017C};
  int loads = 0;
  for (const wchar_t* key : keys) {
    for (Var& value : values) {
      ComPtr<IDispatch> control = CreateControl();
      ComPtr<IPersistPropertyBag> persist;
      ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
      Bag bag;
      VARIANT copy;
      VariantInit(&copy);
      ASSERT_HRESULT_SUCCEEDED(VariantCopy(&copy, &value.v));
      bag.values[key] = copy;
      const ULONG hr = static_cast<ULONG>(persist->Load(&bag, nullptr));
      ++loads;
      EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), hr), std::end(allowed))
          << std::string(key, key + wcslen(key)) << " vt " << V_VT(&value.v) << " hr " << std::hex
          << hr;
      // Still answering, whatever the restore made of it.
      Outcome out;
      Invoke(control.Get(), kShowVU, DISPATCH_PROPERTYGET, {}, out);
      EXPECT_EQ(out.hr, S_OK);
      Bag saved;
      EXPECT_HRESULT_SUCCEEDED(persist->Save(&saved, TRUE, TRUE));
      persist.Reset();
      EXPECT_EQ(ReleaseLast(control), 0u);
    }
  }
  EXPECT_EQ(loads, static_cast<int>(std::size(keys) * values.size()));
}

ComPtr<IStream> NewStream() {
  ComPtr<IStream> stream;
  EXPECT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream));
  return stream;
}

void Rewind(IStream* stream) {
  LARGE_INTEGER zero{};
  ASSERT_HRESULT_SUCCEEDED(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
}

ULONGLONG Position(IStream* stream) {
  LARGE_INTEGER zero{};
  ULARGE_INTEGER at{};
  stream->Seek(zero, STREAM_SEEK_CUR, &at);
  return at.QuadPart;
}

std::vector<BYTE> Bytes(IStream* stream) {
  STATSTG stat{};
  EXPECT_HRESULT_SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME));
  std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  Rewind(stream);
  ULONG got = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  return bytes;
}

ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes) {
  ComPtr<IStream> stream = NewStream();
  ULONG written = 0;
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  Rewind(stream.Get());
  return stream;
}

TEST(ComPersistence, StreamRoundTripStopsAtItsOwnEnd) {
  ComPtr<IDispatch> saved = ChangedControl();
  ComPtr<IPersistStreamInit> out;
  ASSERT_HRESULT_SUCCEEDED(saved.As(&out));
  EXPECT_EQ(out->IsDirty(), S_OK);
  ComPtr<IStream> stream = NewStream();
  ASSERT_EQ(out->Save(stream.Get(), TRUE), S_OK);
  EXPECT_EQ(out->IsDirty(), S_FALSE);
  ULARGE_INTEGER size{};
  ASSERT_HRESULT_SUCCEEDED(out->GetSizeMax(&size));
  EXPECT_EQ(size.QuadPart, Position(stream.Get()));
  // A container writes its own data after the control's.
  ULONG written = 0;
  stream->Write("tail", 4, &written);

  ComPtr<IDispatch> restored = CreateControl();
  ComPtr<IPersistStreamInit> in;
  ASSERT_HRESULT_SUCCEEDED(restored.As(&in));
  Rewind(stream.Get());
  ASSERT_EQ(in->Load(stream.Get()), S_OK);
  EXPECT_EQ(Position(stream.Get()), size.QuadPart);
  ExpectChangedValues(restored.Get());

  // IPersistStream is the same interface without InitNew.
  ComPtr<IPersistStream> plain;
  EXPECT_HRESULT_SUCCEEDED(restored.As(&plain));
  out.Reset();
  in.Reset();
  plain.Reset();
  EXPECT_EQ(ReleaseLast(saved), 0u);
  EXPECT_EQ(ReleaseLast(restored), 0u);
}

TEST(ComPersistence, StorageRoundTrip) {
  ComPtr<IStorage> storage;
  ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(
      nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
      &storage));
  ComPtr<IDispatch> saved = ChangedControl();
  ComPtr<IPersistStorage> out;
  ASSERT_HRESULT_SUCCEEDED(saved.As(&out));
  ASSERT_EQ(out->Save(storage.Get(), FALSE), S_OK);
  ASSERT_EQ(out->SaveCompleted(nullptr), S_OK);

  ComPtr<IDispatch> restored = CreateControl();
  ComPtr<IPersistStorage> in;
  ASSERT_HRESULT_SUCCEEDED(restored.As(&in));
  ASSERT_EQ(in->Load(storage.Get()), S_OK);
  ExpectChangedValues(restored.Get());

  ComPtr<IStorage> empty;
  ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(
      nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
      &empty));
  EXPECT_HRESULT_FAILED(in->Load(empty.Get())) << "no saved state in it";
  out.Reset();
  in.Reset();
  EXPECT_EQ(ReleaseLast(saved), 0u);
  EXPECT_EQ(ReleaseLast(restored), 0u);
}

// A state saved by a later version loads: its entries as far as this version knows their types
// (a new key is skipped by name), and whatever that version put after them is skipped.
TEST(ComPersistence, AStreamOfALaterVersionLoadsWhatThisVersionKnows) {
  ComPtr<IDispatch> source = ChangedControl();
  ComPtr<IPersistStreamInit> out;
  ASSERT_HRESULT_SUCCEEDED(source.As(&out));
  ComPtr<IStream> saved = NewStream();
  ASSERT_HRESULT_SUCCEEDED(out->Save(saved.Get(), FALSE));
  std::vector<BYTE> later = Bytes(saved.Get());
  ASSERT_GT(later.size(), 12u);
  // Version 7, with two entries more: "Gain" as a Long, then "Curve" of a type unknown here
  // (0x7777) whose value this version cannot measure, then bytes of that version's own.
  const std::vector<BYTE> gain = {4, 'G', 'a', 'i', 'n', 3, 0, 9, 0, 0, 0};
  const std::vector<BYTE> curve = {5, 'C', 'u', 'r', 'v', 'e', 0x77, 0x77, 1, 2, 3};
  const std::vector<BYTE> tail = {0xEE, 0xEE, 0xEE, 0xEE};
  later[4] = 7;
  later[6] += 2;
  uint32_t body = 0;
  std::memcpy(&body, &later[8], 4);
  body += static_cast<uint32_t>(gain.size() + curve.size() + tail.size());
  std::memcpy(&later[8], &body, 4);
  for (const auto* part : {&gain, &curve, &tail})
    later.insert(later.end(), part->begin(), part->end());

  ComPtr<IDispatch> restored = CreateControl();
  ComPtr<IPersistStreamInit> in;
  ASSERT_HRESULT_SUCCEEDED(restored.As(&in));
  ComPtr<IStream> stream = StreamOf(later);
  ASSERT_EQ(in->Load(stream.Get()), S_OK);
  EXPECT_EQ(Position(stream.Get()), later.size()) << "the whole state is read past";
  ExpectChangedValues(restored.Get());
  // Saved again, it is this version's state.
  ComPtr<IStream> again = NewStream();
  ASSERT_HRESULT_SUCCEEDED(in->Save(again.Get(), FALSE));
  EXPECT_EQ(Bytes(again.Get())[4], 1);
  out.Reset();
  in.Reset();
  EXPECT_EQ(ReleaseLast(source), 0u);
  EXPECT_EQ(ReleaseLast(restored), 0u);
}

// Junk never crashes a restore: random bytes, every truncation of a real state, a lying length,
// and well-formed states holding values the control cannot take.
TEST(ComPersistence, JunkStreamsFailCleanly) {
  ComPtr<IDispatch> source = ChangedControl();
  ComPtr<IPersistStreamInit> out;
  ASSERT_HRESULT_SUCCEEDED(source.As(&out));
  ComPtr<IStream> good = NewStream();
  ASSERT_HRESULT_SUCCEEDED(out->Save(good.Get(), FALSE));
  const std::vector<BYTE> state = Bytes(good.Get());
  ASSERT_GT(state.size(), 12u);

  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IPersistStreamInit> in;
  ASSERT_HRESULT_SUCCEEDED(control.As(&in));
  for (size_t n = 0; n < state.size(); ++n) {
    std::vector<BYTE> cut(state.begin(), state.begin() + n);
    EXPECT_EQ(in->Load(StreamOf(cut).Get()), STG_E_DOCFILECORRUPT) << n;
  }
  std::vector<BYTE> huge = state;
  huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;  // body length
  EXPECT_EQ(in->Load(StreamOf(huge).Get()), STG_E_DOCFILECORRUPT);

  // "WDXP" v1, one entry: SamplesPerSecond as the String "fast".
  std::vector<BYTE> mismatch = {'W', 'D', 'X', 'P', 1, 0, 1, 0};
  const std::string key = "SamplesPerSecond", text = "fast";
  const uint32_t body = static_cast<uint32_t>(1 + key.size() + 2 + 4 + text.size());
  for (int i = 0; i < 4; ++i) mismatch.push_back(static_cast<BYTE>(body >> (8 * i)));
  mismatch.push_back(static_cast<BYTE>(key.size()));
  mismatch.insert(mismatch.end(), key.begin(), key.end());
  mismatch.insert(mismatch.end(), {8, 0, static_cast<BYTE>(text.size()), 0, 0, 0});
  mismatch.insert(mismatch.end(), text.begin(), text.end());
  EXPECT_EQ(static_cast<ULONG>(in->Load(StreamOf(mismatch).Get())), 0x800A000Du);

  std::mt19937 random(20261207);
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<BYTE> noise(random() % 200);
    for (BYTE& b : noise) b = static_cast<BYTE>(random());
    // Half of them keep a valid header, so the parser reaches the entries.
    if (round % 2 && noise.size() > 12) std::memcpy(noise.data(), state.data(), 8);
    if (FAILED(in->Load(StreamOf(noise).Get()))) ++failures;
  }
  EXPECT_EQ(failures, 300);
  out.Reset();
  in.Reset();
  EXPECT_EQ(ReleaseLast(source), 0u);
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComPersistence, ContainerSiteAndExtent) {
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control.As(&ole));
  ComPtr<IOleClientSite> site = MakeSite(true), got;
  ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(site.Get()));

  ASSERT_HRESULT_SUCCEEDED(ole->GetClientSite(&got));
  EXPECT_EQ(got.Get(), site.Get());
  got.Reset();
  DWORD status = 0;
  ASSERT_HRESULT_SUCCEEDED(ole->GetMiscStatus(DVASPECT_CONTENT, &status));
  EXPECT_EQ(status, 147857u);  // with OLEMISC_NOUIACTIVATE
  // The control keeps 1830 x 510 twips: another extent is refused.
  SIZEL asked{10000, 10000}, size{};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &asked), E_FAIL);
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &size));
  EXPECT_EQ(size.cx, 3228);
  EXPECT_EQ(size.cy, 900);
  ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(nullptr));
  ole.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
  EXPECT_EQ(ReleaseLast(site), 0u) << "the control let go of its site";
}

}  // namespace
}  // namespace wendrix::com_test
