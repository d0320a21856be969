// Bad input through the control's COM surface: a damaged form, calls that fail without a
// run-time error, a restore under a running recording, a file name no file system can take.
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/win/com_fixture.h"
#include "tests/win/memory_bag.h"

namespace wendrix::com_test {
namespace {

constexpr DISPID kInit = 0x6003001A, kUnInit = 0x6003001B, kStart = 0x6003001C, kStop = 0x60030014,
                 kEnabled = 0x6803000D, kSamples = 0x6803000C, kDbLeft = 0x68030001;

using Bag = test::MemoryBag;

Var Typed(VARTYPE vt, double value) {
  Var v = Var::R8(value);
  EXPECT_HRESULT_SUCCEEDED(VariantChangeType(&v.v, &v.v, 0, vt));
  return v;
}

HRESULT Load(IDispatch* control, Bag& bag, IErrorLog* log = nullptr) {
  ComPtr<IPersistPropertyBag> persist;
  EXPECT_HRESULT_SUCCEEDED(control->QueryInterface(IID_PPV_ARGS(&persist)));
  return persist->Load(&bag, log);
}

// A form's load diagnostics: the property names and errors it is told.
struct NameLog final : IErrorLog {
  STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, S_OK; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP AddError(LPCOLESTR name, EXCEPINFO* info) override {
    return entries.emplace_back(name, static_cast<ULONG>(info->scode)), S_OK;
  }
  std::vector<std::pair<std::wstring, ULONG>> entries;
};

TEST(ComBadInput, ARestoredRateOutsideTheTwelveFailsInitWith380) {
  for (LONG rate : {1L, -44100L, 100000000L}) {
    SCOPED_TRACE(rate);
    ComPtr<IDispatch> control = CreateControl();
    Bag bag;
    bag.Write(L"SamplesPerSecond", &Var::I4(rate));
    ASSERT_EQ(Load(control.Get(), bag), S_OK);
    Outcome init;
    Invoke(control.Get(), kInit, DISPATCH_METHOD, {}, init);
    ASSERT_EQ(init.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<ULONG>(init.exception.scode), 0x800A017Cu);
    ASSERT_NE(init.exception.bstrDescription, nullptr);
    EXPECT_NE(std::wstring(init.exception.bstrDescription)
                  .find(L"SamplesPerSecond of " + std::to_wstring(rate)),
              std::wstring::npos)
        << init.exception.bstrDescription;
    EXPECT_EQ(ReleaseLast(control), 0u);
  }
}

TEST(ComBadInput, BagValuesKeepTheirTypeAndANullIsATypeMismatch) {
  ComPtr<IDispatch> control = CreateControl();
  Bag bag;
  Var null;
  V_VT(&null.v) = VT_NULL;
  bag.Write(L"NumChannels", &null);
  NameLog log;
  EXPECT_EQ(static_cast<ULONG>(Load(control.Get(), bag, &log)), 0x800A000Du);
  using Entry = std::pair<std::wstring, ULONG>;
  EXPECT_EQ(log.entries, (std::vector<Entry>{{L"NumChannels", 0x800A000Du}}));

  Bag typed;
  typed.Write(L"dBLeft", &Typed(VT_DATE, 45000.5));
  typed.Write(L"dBRight", &Typed(VT_DECIMAL, -12.25));
  typed.Write(L"BufferPosition", &Typed(VT_UI4, 4000000000.0));
  ASSERT_EQ(Load(control.Get(), typed), S_OK);
  Outcome level;
  Invoke(control.Get(), kDbLeft, DISPATCH_PROPERTYGET, {}, level);
  EXPECT_EQ(V_VT(&level.result.v), VT_DATE);
  // Saved to a stream and loaded into another control, then saved to a bag: the same values.
  ComPtr<IPersistStreamInit> stream_out;
  ASSERT_HRESULT_SUCCEEDED(control.As(&stream_out));
  ComPtr<IStream> stream;
  ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream));
  ASSERT_HRESULT_SUCCEEDED(stream_out->Save(stream.Get(), TRUE));
  ASSERT_HRESULT_SUCCEEDED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
  ComPtr<IDispatch> copy = CreateControl();
  ComPtr<IPersistStreamInit> stream_in;
  ASSERT_HRESULT_SUCCEEDED(copy.As(&stream_in));
  ASSERT_EQ(stream_in->Load(stream.Get()), S_OK);
  ComPtr<IPersistPropertyBag> saver;
  ASSERT_HRESULT_SUCCEEDED(copy.As(&saver));
  Bag saved;
  ASSERT_HRESULT_SUCCEEDED(saver->Save(&saved, TRUE, TRUE));
  for (const wchar_t* key : {L"dBLeft", L"dBRight", L"BufferPosition"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(V_VT(&saved.values[key]), V_VT(&typed.values[key]));
    Var a, b;  // compared as text: VarCmp takes no unsigned types
    ASSERT_HRESULT_SUCCEEDED(VariantChangeType(&a.v, &saved.values[key], 0, VT_BSTR));
    ASSERT_HRESULT_SUCCEEDED(VariantChangeType(&b.v, &typed.values[key], 0, VT_BSTR));
    EXPECT_STREQ(V_BSTR(&a.v), V_BSTR(&b.v));
  }
}

TEST(ComBadInput, AFailureWithoutARunTimeErrorLeavesNoOlderDescription) {
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<_DSWendrixControl> dual;
  ASSERT_HRESULT_SUCCEEDED(control.As(&dual));
  ComPtr<ISupportErrorInfo> support;
  ASSERT_HRESULT_SUCCEEDED(control.As(&support));
  ASSERT_EQ(support->InterfaceSupportsErrorInfo(IID__DSWendrixControl), S_OK);
  auto leave_a_description = [&] {
    VARIANT v;
    VariantInit(&v);
    ASSERT_TRUE(FAILED(dual->put_dBLeft(v)));  // read-only: 382, with its description
  };
  const std::wstring old = [&] {
    leave_a_description();
    return TakeErrorInfo().description;
  }();
  ASSERT_FALSE(old.empty());

  leave_a_description();
  EXPECT_EQ(dual->get_Enabled(nullptr), E_POINTER);
  EXPECT_NE(TakeErrorInfo().description, old);
  leave_a_description();
  EXPECT_EQ(dual->get_dBRight(nullptr), E_POINTER);
  EXPECT_NE(TakeErrorInfo().description, old);
  leave_a_description();
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"NoSuchMember");
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_NE(TakeErrorInfo().description, old);
  leave_a_description();
  Outcome unknown;
  Invoke(control.Get(), 0x12345, DISPATCH_METHOD, {}, unknown);
  EXPECT_TRUE(FAILED(unknown.hr));
  EXPECT_NE(TakeErrorInfo().description, old);
}

// Finds the control's box ("Wendrix"), keeps its text and presses OK, as a person would.
void PressOk(std::wstring& text, std::atomic<bool>& stop) {
  while (!stop) {
    if (HWND box = FindOwnBox()) {
      text = BoxText(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// While it records, the control takes no other properties; after the stop a surrogate that is
// not part of a pair makes the start fail as an uncreatable file does, and nothing is created.
TEST(ComBadInput, NoReloadWhileRecordingAndNoFileUnderAnotherName) {
  ComPtr<IDispatch> control = CreateControl();
  Outcome init;
  Invoke(control.Get(), kInit, DISPATCH_METHOD, {}, init);
  if (init.hr != S_OK) GTEST_SKIP() << "no recording device";
  Var on = Var::Bool(true);
  Outcome enable;
  Invoke(control.Get(), kEnabled, DISPATCH_PROPERTYPUT, {&on}, enable);
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder =
      std::wstring(temp) + L"wendrix-bad-input-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));

  Var take = Var::Str((folder + L"take.wav").c_str());
  Outcome start;
  Invoke(control.Get(), kStart, DISPATCH_METHOD, {&take}, start);
  ASSERT_EQ(start.hr, S_OK);
  ASSERT_EQ(V_BOOL(&start.result.v), VARIANT_TRUE);
  Bag bag;
  bag.Write(L"SamplesPerSecond", &Var::I4(11025));
  EXPECT_EQ(Load(control.Get(), bag), E_UNEXPECTED);
  EXPECT_FALSE(TakeErrorInfo().description.empty());
  ComPtr<IPersistStreamInit> fresh;
  ASSERT_HRESULT_SUCCEEDED(control.As(&fresh));
  EXPECT_EQ(fresh->InitNew(), E_UNEXPECTED);
  Outcome rate;
  Invoke(control.Get(), kSamples, DISPATCH_PROPERTYGET, {}, rate);
  EXPECT_EQ(rate.result.AsLong(), 44100);
  Outcome stop;
  Invoke(control.Get(), kStop, DISPATCH_METHOD, {}, stop);
  EXPECT_EQ(stop.hr, S_OK);
  ASSERT_TRUE(DeleteFileW((folder + L"take.wav").c_str()));

  std::wstring box;
  std::atomic<bool> done{false};
  std::thread watchdog(PressOk, std::ref(box), std::ref(done));
  Var bad = Var::Str((folder + L"take\xD800.wav").c_str());
  Outcome refused;
  Invoke(control.Get(), kStart, DISPATCH_METHOD, {&bad}, refused);
  done = true;
  watchdog.join();
  EXPECT_EQ(refused.hr, S_OK);
  EXPECT_EQ(V_BOOL(&refused.result.v), VARIANT_FALSE);
  EXPECT_NE(box.find(L"unpaired UTF-16 surrogate"), std::wstring::npos) << box;
  // The folder holds nothing, so it can be removed.
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
  Outcome uninit;
  Invoke(control.Get(), kUnInit, DISPATCH_METHOD, {}, uninit);
}

}  // namespace
}  // namespace wendrix::com_test
