// The control through IDispatch and its dual vtable, as script hosts and compiled clients call it.
#include <algorithm>
#include <cwctype>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

struct Named {
  const wchar_t* name;
  DISPID id;
};
const Named kNames[] = {
    {L"Wendrix_Stop", 0x60030014},     {L"Enabled", 0x6803000D},
    {L"SamplesPerSecond", 0x6803000C}, {L"NumChannels", 0x6803000B},
    {L"BitsPerSample", 0x6803000A},    {L"Init_DSWendrix", 0x6003001A},
    {L"UnInit_DSWendrix", 0x6003001B}, {L"BufferLength", 0x68030009},
    {L"Wendrix_Start", 0x6003001C},    {L"AutoCalculateBuff", 0x68030008},
    {L"BufferPosition", 0x68030007},   {L"BackColor", 0x68030006},
    {L"BackStyle", 0x68030005},        {L"BorderStyle", 0x68030004},
    {L"ShowVU", 0x68030003},           {L"ShowVUScale", 0x68030002},
    {L"dBLeft", 0x68030001},           {L"dBRight", 0x68030000},
};

DISPID IdOf(const wchar_t* name) {
  for (const Named& n : kNames)
    if (!wcscmp(n.name, name)) return n.id;
  ADD_FAILURE() << "no such member";
  return DISPID_UNKNOWN;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Calls `name` by its DISPID or, resolving the name first, the way a script host does.
void Call(IDispatch* control, bool by_name, const wchar_t* name, WORD flags,
          std::vector<VARIANT*> args, Outcome& out) {
  if (by_name)
    InvokeByName(control, name, flags, std::move(args), out);
  else
    Invoke(control, IdOf(name), flags, std::move(args), out);
}

TEST(ComDispatch, NamesResolveInAnyCaseToTheirDispIds) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  for (const Named& n : kNames) {
    std::wstring lower = n.name, upper = n.name, mixed = n.name;
    for (size_t i = 0; i < lower.size(); ++i) {
      lower[i] = towlower(lower[i]);
      upper[i] = towupper(upper[i]);
      mixed[i] = i % 2 ? towupper(mixed[i]) : towlower(mixed[i]);
    }
    for (std::wstring& spelling : {std::ref(lower), std::ref(upper), std::ref(mixed)}) {
      LPOLESTR names[] = {spelling.data()};
      DISPID id = 0;
      EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK)
          << Narrow(spelling);
      EXPECT_EQ(id, n.id) << Narrow(spelling);
    }
  }
  LPOLESTR start[] = {const_cast<LPOLESTR>(L"WENDRIX_start"), const_cast<LPOLESTR>(L"fileNAME")};
  DISPID ids[2] = {};
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, start, 2, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 0x6003001C);
  EXPECT_EQ(ids[1], 0);

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Record")};
  DISPID id = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ReleaseLast(control), 0u);
}

class ComDispatchBoth : public ::testing::TestWithParam<bool> {};

TEST_P(ComDispatchBoth, NewControlReadsTheDefaultsOfANewControl) {
  const bool by_name = GetParam();
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  const struct {
    const wchar_t* name;
    VARTYPE vt;
    LONG value;
  } longs[] = {
      {L"Enabled", VT_BOOL, 0},         {L"SamplesPerSecond", VT_I4, 44100},
      {L"NumChannels", VT_I4, 2},       {L"BitsPerSample", VT_I4, 16},
      {L"BufferLength", VT_I4, 176400}, {L"AutoCalculateBuff", VT_BOOL, -1},
      {L"BufferPosition", VT_I2, 0},    {L"BackColor", VT_I4, 0x808080},
      {L"BackStyle", VT_I4, 0},         {L"BorderStyle", VT_I4, 1},
      {L"ShowVU", VT_BOOL, -1},         {L"ShowVUScale", VT_BOOL, -1},
  };
  for (const auto& row : longs) {
    Outcome out;
    Call(control.Get(), by_name, row.name, DISPATCH_PROPERTYGET, {}, out);
    ASSERT_EQ(out.hr, S_OK) << Narrow(row.name);
    EXPECT_EQ(V_VT(&out.result.v), row.vt) << Narrow(row.name);
    EXPECT_EQ(out.result.AsLong(), row.value) << Narrow(row.name);
  }
  for (const wchar_t* level : {L"dBLeft", L"dBRight"}) {
    Outcome out;
    Call(control.Get(), by_name, level, DISPATCH_PROPERTYGET, {}, out);
    ASSERT_EQ(out.hr, S_OK);
    EXPECT_EQ(out.result.AsText(), L"No Sound");
  }
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST_P(ComDispatchBoth, PutsReachTheControlAndReadBack) {
  const bool by_name = GetParam();
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  // In this order: the buffer length is taken only while enabled and not automatic.
  const struct {
    const wchar_t* name;
    LONG value;
  } rows[] = {
      {L"Enabled", -1},         {L"AutoCalculateBuff", 0},
      {L"BufferLength", 8820},  {L"SamplesPerSecond", 22050},
      {L"NumChannels", 1},      {L"BitsPerSample", 8},
      {L"BackColor", 0x00FF00}, {L"BackStyle", 1},
      {L"BorderStyle", 0},      {L"ShowVU", 0},
      {L"ShowVUScale", 0},
  };
  for (const auto& row : rows) {
    Var value = Var::I4(row.value);
    Outcome put, get;
    Call(control.Get(), by_name, row.name, DISPATCH_PROPERTYPUT, {&value}, put);
    EXPECT_EQ(put.hr, S_OK) << Narrow(row.name);
    Call(control.Get(), by_name, row.name, DISPATCH_PROPERTYGET, {}, get);
    ASSERT_EQ(get.hr, S_OK) << Narrow(row.name);
    EXPECT_EQ(get.result.AsLong(), row.value) << Narrow(row.name);
  }
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST_P(ComDispatchBoth, MethodsAnswerWithBooleansOrTheirError) {
  const bool by_name = GetParam();
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  for (const auto& [name, value] :
       {std::pair{L"Wendrix_Stop", VARIANT_FALSE}, std::pair{L"UnInit_DSWendrix", VARIANT_TRUE}}) {
    Outcome out;
    Call(control.Get(), by_name, name, DISPATCH_METHOD, {}, out);
    ASSERT_EQ(out.hr, S_OK) << Narrow(name);
    ASSERT_EQ(V_VT(&out.result.v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&out.result.v), value) << Narrow(name);
  }
  Var file = Var::Str(L"C:\\take.wav");
  Outcome start;
  Call(control.Get(), by_name, L"Wendrix_Start", DISPATCH_METHOD, {&file}, start);
  ASSERT_EQ(start.hr, S_OK);
  EXPECT_EQ(V_BOOL(&start.result.v), VARIANT_FALSE) << "no recorder: nothing starts";

  // With a recording device Init answers True; without one, DirectSound's failure keeps its own
  // code and names the call.
  Outcome init;
  Call(control.Get(), by_name, L"Init_DSWendrix", DISPATCH_METHOD, {}, init);
  if (init.hr == S_OK) {
    ASSERT_EQ(V_VT(&init.result.v), VT_BOOL);
    EXPECT_EQ(V_BOOL(&init.result.v), VARIANT_TRUE);
  } else {
    ASSERT_EQ(init.hr, DISP_E_EXCEPTION);
    EXPECT_TRUE(FAILED(init.exception.scode));
    EXPECT_NE(HRESULT_FACILITY(init.exception.scode), FACILITY_CONTROL) << "not a run-time error";
    ASSERT_NE(init.exception.bstrDescription, nullptr);
    EXPECT_NE(std::wstring(init.exception.bstrDescription).find(L"DirectSoundCapture"),
              std::wstring::npos);
  }
  EXPECT_EQ(ReleaseLast(control), 0u);
}

INSTANTIATE_TEST_SUITE_P(ByDispIdAndByName, ComDispatchBoth, ::testing::Bool());

TEST(ComDispatch, ReadOnlyPropertiesRefuseWith382AtRunTimeAnd387AtDesignTime) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control.As(&ole));
  const struct {
    bool site;
    bool user_mode;
    ULONG code;
    const wchar_t* text;
  } modes[] = {
      {false, true, 0x800A017E, L"Set not supported at runtime"},  // no site: a running program
      {true, true, 0x800A017E, L"Set not supported at runtime"},
      {true, false, 0x800A0183, L"Set not permitted"},
  };
  for (const auto& mode : modes) {
    ASSERT_HRESULT_SUCCEEDED(
        ole->SetClientSite(mode.site ? MakeSite(mode.user_mode).Get() : nullptr));
    for (const wchar_t* name : {L"BufferPosition", L"dBLeft", L"dBRight"}) {
      Var value = Var::I4(5);
      Outcome out;
      Invoke(control.Get(), IdOf(name), DISPATCH_PROPERTYPUT, {&value}, out);
      ASSERT_EQ(out.hr, DISP_E_EXCEPTION) << Narrow(name);
      EXPECT_EQ(static_cast<ULONG>(out.exception.scode), mode.code) << Narrow(name);
      EXPECT_STREQ(out.exception.bstrDescription, mode.text);
      EXPECT_STREQ(out.exception.bstrSource, L"Wendrix.DSWendrixControl");
    }
  }
  ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(nullptr));

  // Through the vtable: the HRESULT itself, with the error information beside it.
  ComPtr<_DSWendrixControl> dual;
  ASSERT_HRESULT_SUCCEEDED(control.As(&dual));
  ComPtr<ISupportErrorInfo> support;
  ASSERT_HRESULT_SUCCEEDED(control.As(&support));
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__DSWendrixControl), S_OK);
  Var level = Var::Str(L"-3");
  EXPECT_EQ(dual->put_dBLeft(level.v), static_cast<HRESULT>(0x800A017E));
  ErrorText info = TakeErrorInfo();
  EXPECT_EQ(info.description, L"Set not supported at runtime");
  EXPECT_EQ(info.source, L"Wendrix.DSWendrixControl");

  ole.Reset();
  dual.Reset();
  support.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComDispatch, DispatchErrorsOfThePlatform) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  // No default member and no stock DISPIDs: Enabled and BackColor are ordinary members.
  for (DISPID id : {DISPID(0), DISPID(DISPID_ENABLED), DISPID(DISPID_BACKCOLOR), DISPID(12345)}) {
    Outcome out;
    Invoke(control.Get(), id, DISPATCH_PROPERTYGET, {}, out);
    EXPECT_EQ(out.hr, DISP_E_MEMBERNOTFOUND) << id;
  }
  Var one = Var::I4(1), two = Var::Str(L"b");
  const struct {
    const wchar_t* name;
    WORD flags;
    std::vector<VARIANT*> args;
    HRESULT hr;
  } rows[] = {
      {L"Wendrix_Start", DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT},
      {L"Wendrix_Start", DISPATCH_METHOD, {&two.v, &one.v}, DISP_E_BADPARAMCOUNT},
      {L"Wendrix_Stop", DISPATCH_METHOD, {&one.v}, DISP_E_BADPARAMCOUNT},
      {L"Init_DSWendrix", DISPATCH_PROPERTYPUT, {&one.v}, DISP_E_MEMBERNOTFOUND},
      // An argument to a property that takes none asks for an element of a collection.
      {L"Enabled", DISPATCH_PROPERTYGET, {&one.v}, DISP_E_NOTACOLLECTION},
      {L"NumChannels", DISPATCH_PROPERTYPUT, {&two.v}, DISP_E_TYPEMISMATCH},
  };
  for (const auto& row : rows) {
    Outcome out;
    Invoke(control.Get(), IdOf(row.name), row.flags, row.args, out);
    EXPECT_EQ(out.hr, row.hr) << Narrow(row.name);
  }
  Var huge = Var::R8(1e12);
  Outcome overflow;
  Invoke(control.Get(), IdOf(L"SamplesPerSecond"), DISPATCH_PROPERTYPUT, {&huge}, overflow);
  EXPECT_EQ(overflow.hr, DISP_E_OVERFLOW);

  DISPPARAMS none{};
  Var result;
  EXPECT_EQ(control->Invoke(IdOf(L"Enabled"), IID_IUnknown, LOCALE_USER_DEFAULT,
                            DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComDispatch, WendrixStartLeavesTheCallersStringAlone) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  BSTR text = SysAllocString(L"C:\\recordings\\take one.wav");
  BSTR before = text;
  VARIANT by_ref;
  VariantInit(&by_ref);
  V_VT(&by_ref) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&by_ref) = &text;
  Outcome out;
  Invoke(control.Get(), 0x6003001C, DISPATCH_METHOD, {&by_ref}, out);
  EXPECT_EQ(out.hr, S_OK);
  EXPECT_EQ(text, before);
  EXPECT_STREQ(text, L"C:\\recordings\\take one.wav");

  // A script engine passes its variable as a Variant by reference.
  VARIANT holder;
  VariantInit(&holder);
  V_VT(&holder) = VT_BSTR;
  V_BSTR(&holder) = text;
  VARIANT script_ref;
  VariantInit(&script_ref);
  V_VT(&script_ref) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&script_ref) = &holder;
  Outcome script;
  Invoke(control.Get(), 0x6003001C, DISPATCH_METHOD, {&script_ref}, script);
  EXPECT_EQ(script.hr, S_OK);
  EXPECT_EQ(V_VT(&holder), VT_BSTR);
  EXPECT_EQ(V_BSTR(&holder), before);
  EXPECT_STREQ(V_BSTR(&holder), L"C:\\recordings\\take one.wav");

  ComPtr<_DSWendrixControl> dual;
  ASSERT_HRESULT_SUCCEEDED(control.As(&dual));
  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(dual->Wendrix_Start(&text, &started), S_OK);
  EXPECT_EQ(started, VARIANT_FALSE);
  EXPECT_EQ(text, before);
  EXPECT_STREQ(text, L"C:\\recordings\\take one.wav");
  SysFreeString(text);
  dual.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComDispatch, DualVtableAndTypeInfoMatchDispatch) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  ComPtr<_DSWendrixControl> dual;
  ASSERT_HRESULT_SUCCEEDED(control.As(&dual));
  ASSERT_HRESULT_SUCCEEDED(dual->put_SamplesPerSecond(LowQuality));
  Samples rate{};
  ASSERT_HRESULT_SUCCEEDED(dual->get_SamplesPerSecond(&rate));
  EXPECT_EQ(rate, LowQuality);
  EXPECT_EQ(dual->get_BackColor(nullptr), E_POINTER);

  UINT count = 0;
  ASSERT_HRESULT_SUCCEEDED(control->GetTypeInfoCount(&count));
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID__DSWendrixControl));
  info->ReleaseTypeAttr(attr);
  EXPECT_EQ(control->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);

  ComPtr<IProvideClassInfo2> class_info;
  ASSERT_HRESULT_SUCCEEDED(control.As(&class_info));
  GUID events{};
  ASSERT_HRESULT_SUCCEEDED(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events));
  EXPECT_TRUE(IsEqualGUID(events, DIID___DSWendrixControl));
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(class_info->GetClassInfo(&coclass));
  ASSERT_HRESULT_SUCCEEDED(coclass->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_DSWendrixControl));
  coclass->ReleaseTypeAttr(attr);

  dual.Reset();
  info.Reset();
  class_info.Reset();
  coclass.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

// Every DISPID with every invoke-flag combination and a spread of argument shapes: each call
// returns (no crash), succeeds or fails with a dispatch error, and a failure leaves no result.
TEST(ComDispatch, SurvivesEveryFlagAndArgumentCombination) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  std::vector<DISPID> ids = {0, DISPID_ENABLED, DISPID_BACKCOLOR, DISPID_VALUE, -1, 0x7FFFFFFF};
  for (const Named& n : kNames) ids.push_back(n.id);
  BSTR held = SysAllocString(L"x");
  std::vector<std::vector<VARIANT>> shapes;
  auto v = [](VARTYPE vt) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = vt;
    return x;
  };
  VARIANT i4 = v(VT_I4), text = v(VT_BSTR), obj = v(VT_DISPATCH), null = v(VT_NULL),
          ref = v(VT_BSTR | VT_BYREF), r8 = v(VT_R8), err = v(VT_ERROR);
  V_I4(&i4) = 7;
  V_BSTR(&text) = held;
  V_DISPATCH(&obj) = nullptr;
  V_BSTRREF(&ref) = &held;
  V_R8(&r8) = -1e300;
  V_ERROR(&err) = DISP_E_PARAMNOTFOUND;  // a "missing" optional argument
  shapes = {{},    {v(VT_EMPTY)}, {i4},  {text},     {obj},         {null},
            {ref}, {r8},          {err}, {i4, text}, {text, i4, r8}};
  const HRESULT allowed[] = {S_OK,
                             DISP_E_MEMBERNOTFOUND,
                             DISP_E_BADPARAMCOUNT,
                             DISP_E_TYPEMISMATCH,
                             DISP_E_OVERFLOW,
                             DISP_E_EXCEPTION,
                             DISP_E_PARAMNOTOPTIONAL,
                             DISP_E_PARAMNOTFOUND,
                             DISP_E_BADVARTYPE,
                             DISP_E_NONAMEDARGS,
                             DISP_E_NOTACOLLECTION,
                             E_INVALIDARG};
  int calls = 0;
  for (DISPID id : ids) {
    for (WORD flags = 1; flags <= 15; ++flags) {
      for (auto& shape : shapes) {
        std::vector<VARIANT*> args;
        for (VARIANT& a : shape) args.push_back(&a);
        Outcome out;
        Invoke(control.Get(), id, flags, args, out);
        ++calls;
        EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), out.hr), std::end(allowed))
            << "id " << id << " flags " << flags << " args " << shape.size() << " hr " << std::hex
            << out.hr;
        if (FAILED(out.hr)) {
          EXPECT_EQ(V_VT(&out.result.v), VT_EMPTY);
        }
      }
    }
  }
  EXPECT_EQ(calls, static_cast<int>(ids.size()) * 15 * static_cast<int>(shapes.size()));
  SysFreeString(held);
  EXPECT_EQ(ReleaseLast(control), 0u);
}

}  // namespace
}  // namespace wendrix::com_test
