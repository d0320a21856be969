// The type library in Wendrix.ocx, walked as form designers and compilers read it.
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

std::wstring Name(ITypeInfo* info, MEMBERID id, std::wstring* doc = nullptr) {
  BSTR name = nullptr, text = nullptr;
  EXPECT_HRESULT_SUCCEEDED(info->GetDocumentation(id, &name, &text, nullptr, nullptr));
  std::wstring n = name ? name : L"";
  if (doc) *doc = text ? text : L"";
  SysFreeString(name);
  SysFreeString(text);
  return n;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class TypeLib : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, &lib_));
  }
  ComPtr<ITypeInfo> Info(UINT index) {
    ComPtr<ITypeInfo> info;
    EXPECT_HRESULT_SUCCEEDED(lib_->GetTypeInfo(index, &info));
    return info;
  }
  ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLib, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Wendrix));
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  // Of the flags a library declares, only the control flag (the disk-image flag is the loader's).
  EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, LIBFLAG_FCONTROL);
  lib_->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr, help = nullptr;
  DWORD context = 1;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetDocumentation(-1, &name, &doc, &context, &help));
  EXPECT_STREQ(name, L"Wendrix");
  EXPECT_STREQ(doc, L"Wendrix");
  EXPECT_EQ(help, nullptr);
  EXPECT_EQ(context, 0u);
  SysFreeString(name);
  SysFreeString(doc);
  SysFreeString(help);
}

TEST_F(TypeLib, NineDescriptionsInOrder) {
  struct Row {
    const wchar_t* name;
    TYPEKIND kind;
    WORD flags;
    WORD size;
  };
  const WORD dual = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                    TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
  const Row rows[] = {
      {L"_DSWendrixControl", TKIND_DISPATCH, dual, 0},
      {L"DSWendrixControl", TKIND_COCLASS, TYPEFLAG_FCONTROL, 0},
      {L"__DSWendrixControl", TKIND_DISPATCH,
       TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE, 0},
      {L"BackStyle", TKIND_ENUM, 0, 4},
      {L"Bits", TKIND_ENUM, 0, 4},
      {L"channels", TKIND_ENUM, 0, 4},
      {L"Samples", TKIND_ENUM, 0, 4},
      {L"BorderStyle", TKIND_ENUM, 0, 4},
      {L"WENDRIXWAVEFORMAT", TKIND_RECORD, 0, 20},
  };
  ASSERT_EQ(lib_->GetTypeInfoCount(), std::size(rows));
  for (UINT i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(Narrow(rows[i].name));
    ComPtr<ITypeInfo> info = Info(i);
    EXPECT_EQ(Name(info.Get(), MEMBERID_NIL), rows[i].name);
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_EQ(attr->typekind, rows[i].kind);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    // The dispatch half of the dual interface does not repeat oleautomation; its vtable half
    // is checked below with every flag.
    WORD ignore = i == 0 ? TYPEFLAG_FOLEAUTOMATION : 0;
    EXPECT_EQ(attr->wTypeFlags & ~ignore, rows[i].flags & ~ignore);
    if (rows[i].size) {
      EXPECT_EQ(attr->cbSizeInstance, rows[i].size);
    }
    if (rows[i].kind == TKIND_RECORD) {
      EXPECT_EQ(attr->cbAlignment, 4);
    }
    info->ReleaseTypeAttr(attr);
  }
}

// The 18 members in vtable order; a property stands for its get and its put.
struct Member {
  const wchar_t* name;
  bool property;
  DISPID id;
  const wchar_t* type;  // bool, long, variant or the name of a user-defined type
  const wchar_t* help;
  bool nonbrowsable;
};
const Member kMembers[] = {
    {L"Wendrix_Stop", false, 0x60030014, L"bool", L"", false},
    {L"Enabled", true, 0x6803000D, L"bool",
     L"Returns/sets a value that determines whether an object can respond to user-generated "
     L"events.",
     false},
    {L"SamplesPerSecond", true, 0x6803000C, L"Samples", L"", false},
    {L"NumChannels", true, 0x6803000B, L"channels", L"", false},
    {L"BitsPerSample", true, 0x6803000A, L"Bits", L"", false},
    {L"Init_DSWendrix", false, 0x6003001A, L"bool", L"Initialize", false},
    {L"UnInit_DSWendrix", false, 0x6003001B, L"bool", L"Uninitialize", false},
    {L"BufferLength", true, 0x68030009, L"long", L"Buffer Length in bytes", false},
    {L"Wendrix_Start", false, 0x6003001C, L"bool", L"", false},
    {L"AutoCalculateBuff", true, 0x68030008, L"bool",
     L"Automatically determines Bufferlength if set to true", false},
    {L"BufferPosition", true, 0x68030007, L"variant", L"", true},
    {L"BackColor", true, 0x68030006, L"OLE_COLOR",
     L"Returns/sets the background color used to display text and graphics in an object.", false},
    {L"BackStyle", true, 0x68030005, L"BackStyle",
     L"Indicates whether a Label or the background of a Shape is transparent or opaque.", false},
    {L"BorderStyle", true, 0x68030004, L"BorderStyle",
     L"Returns/sets the border style for an object.", false},
    {L"ShowVU", true, 0x68030003, L"bool", L"Show Vu Meter", false},
    {L"ShowVUScale", true, 0x68030002, L"bool", L"Show VU Scale in dB", false},
    {L"dBLeft", true, 0x68030001, L"variant", L"", true},
    {L"dBRight", true, 0x68030000, L"variant", L"", true},
};

std::wstring TypeName(ITypeInfo* owner, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_BOOL:
      return L"bool";
    case VT_I4:
      return L"long";
    case VT_VARIANT:
      return L"variant";
    case VT_BSTR:
      return L"bstr";
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      if (FAILED(owner->GetRefTypeInfo(t.hreftype, &ref))) return L"?";
      return Name(ref.Get(), MEMBERID_NIL);
    }
    default:
      return L"vt" + std::to_wstring(t.vt);
  }
}

TEST_F(TypeLib, DualInterfaceHas32EntriesInOrder) {
  ComPtr<ITypeInfo> dispatch = Info(0), vtable;
  HREFTYPE half = 0;
  ASSERT_HRESULT_SUCCEEDED(dispatch->GetRefTypeOfImplType(-1, &half));
  ASSERT_HRESULT_SUCCEEDED(dispatch->GetRefTypeInfo(half, &vtable));
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(vtable->GetTypeAttr(&attr));
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID__DSWendrixControl));
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                  TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(attr->cFuncs, 32);
  EXPECT_EQ(attr->cImplTypes, 1);
  vtable->ReleaseTypeAttr(attr);
  HREFTYPE base_ref = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_HRESULT_SUCCEEDED(vtable->GetRefTypeOfImplType(0, &base_ref));
  ASSERT_HRESULT_SUCCEEDED(vtable->GetRefTypeInfo(base_ref, &base));
  EXPECT_EQ(Name(base.Get(), MEMBERID_NIL), L"IDispatch");

  UINT index = 0;
  for (const Member& m : kMembers) {
    for (INVOKEKIND kind : m.property
                               ? std::vector<INVOKEKIND>{INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT}
                               : std::vector<INVOKEKIND>{INVOKE_FUNC}) {
      SCOPED_TRACE(Narrow(m.name) + " entry " + std::to_string(index));
      FUNCDESC* f = nullptr;
      ASSERT_HRESULT_SUCCEEDED(vtable->GetFuncDesc(index, &f));
      EXPECT_EQ(f->memid, m.id);
      EXPECT_EQ(f->invkind, kind);
      EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
      EXPECT_EQ(f->callconv, CC_STDCALL);
      EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
      EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + index) * sizeof(void*)));
      EXPECT_EQ(f->wFuncFlags, m.nonbrowsable ? FUNCFLAG_FNONBROWSABLE : 0);
      EXPECT_EQ(f->cParamsOpt, 0);
      std::wstring doc;
      EXPECT_EQ(Name(vtable.Get(), m.id, &doc), m.name);
      EXPECT_EQ(doc, m.help);

      // Parameters: the value (by reference as retval for a get and a method's result, by
      // value for a put), and FileName before Wendrix_Start's result.
      bool start = !wcscmp(m.name, L"Wendrix_Start");
      ASSERT_EQ(f->cParams, start ? 2 : 1);
      const ELEMDESC& value = f->lprgelemdescParam[f->cParams - 1];
      if (kind == INVOKE_PROPERTYPUT) {
        EXPECT_EQ(value.paramdesc.wParamFlags, PARAMFLAG_FIN);
        EXPECT_EQ(TypeName(vtable.Get(), value.tdesc), m.type);
      } else {
        EXPECT_EQ(value.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
        ASSERT_EQ(value.tdesc.vt, VT_PTR);
        EXPECT_EQ(TypeName(vtable.Get(), *value.tdesc.lptdesc), m.type);
      }
      if (start) {
        const ELEMDESC& file = f->lprgelemdescParam[0];
        EXPECT_EQ(file.paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
        ASSERT_EQ(file.tdesc.vt, VT_PTR);
        EXPECT_EQ(file.tdesc.lptdesc->vt, VT_BSTR);
      }
      // Only FileName carries a name.
      BSTR names[3] = {};
      UINT count = 0;
      EXPECT_HRESULT_SUCCEEDED(vtable->GetNames(m.id, names, 3, &count));
      EXPECT_EQ(count, start ? 2u : 1u);
      if (start && count == 2) {
        EXPECT_STREQ(names[1], L"FileName");
      }
      for (BSTR b : names) SysFreeString(b);
      vtable->ReleaseFuncDesc(f);
      ++index;
    }
  }
}

// A member of the vtable the OCX implements: its byte offset as this compiler lays it out (the
// Itanium C++ ABI of mingw-w64 stores a virtual member pointer as 1 + it) and its parameters.
template <typename... Args>
std::pair<ptrdiff_t, int> Slot(HRESULT (STDMETHODCALLTYPE _DSWendrixControl::*member)(Args...)) {
  ptrdiff_t raw[2] = {};
  static_assert(sizeof member == sizeof raw);
  std::memcpy(raw, &member, sizeof raw);
  return {raw[0] - 1, static_cast<int>(sizeof...(Args))};
}

// The registered library, as DispInvoke and early-binding compilers read it, matches that
// vtable: every function's offset, calling convention and parameter count, in order.
TEST_F(TypeLib, RegisteredLibraryMatchesTheImplementedVtable) {
  using I = _DSWendrixControl;
  const std::pair<ptrdiff_t, int> slots[] = {Slot(&I::Wendrix_Stop),
                                             Slot(&I::get_Enabled),
                                             Slot(&I::put_Enabled),
                                             Slot(&I::get_SamplesPerSecond),
                                             Slot(&I::put_SamplesPerSecond),
                                             Slot(&I::get_NumChannels),
                                             Slot(&I::put_NumChannels),
                                             Slot(&I::get_BitsPerSample),
                                             Slot(&I::put_BitsPerSample),
                                             Slot(&I::Init_DSWendrix),
                                             Slot(&I::UnInit_DSWendrix),
                                             Slot(&I::get_BufferLength),
                                             Slot(&I::put_BufferLength),
                                             Slot(&I::Wendrix_Start),
                                             Slot(&I::get_AutoCalculateBuff),
                                             Slot(&I::put_AutoCalculateBuff),
                                             Slot(&I::get_BufferPosition),
                                             Slot(&I::put_BufferPosition),
                                             Slot(&I::get_BackColor),
                                             Slot(&I::put_BackColor),
                                             Slot(&I::get_BackStyle),
                                             Slot(&I::put_BackStyle),
                                             Slot(&I::get_BorderStyle),
                                             Slot(&I::put_BorderStyle),
                                             Slot(&I::get_ShowVU),
                                             Slot(&I::put_ShowVU),
                                             Slot(&I::get_ShowVUScale),
                                             Slot(&I::put_ShowVUScale),
                                             Slot(&I::get_dBLeft),
                                             Slot(&I::put_dBLeft),
                                             Slot(&I::get_dBRight),
                                             Slot(&I::put_dBRight)};
  HMODULE module = LoadLibraryW(OcxPath().c_str());
  ASSERT_NE(module, nullptr);
  const auto entry = [&](const char* name) {
    return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  };
  ASSERT_HRESULT_SUCCEEDED(entry("DllRegisterServer")());
  ComPtr<ITypeLib> registered;
  ComPtr<ITypeInfo> dispatch, vtable;
  HREFTYPE half = 0;
  if (SUCCEEDED(LoadRegTypeLib(LIBID_Wendrix, 2, 0, 0x0409, &registered)) &&
      SUCCEEDED(registered->GetTypeInfoOfGuid(IID__DSWendrixControl, &dispatch)) &&
      SUCCEEDED(dispatch->GetRefTypeOfImplType(-1, &half)))
    dispatch->GetRefTypeInfo(half, &vtable);
  EXPECT_HRESULT_SUCCEEDED(entry("DllUnregisterServer")());
  FreeLibrary(module);
  ASSERT_TRUE(vtable);
  for (UINT index = 0; index < std::size(slots); ++index) {
    FUNCDESC* f = nullptr;
    ASSERT_HRESULT_SUCCEEDED(vtable->GetFuncDesc(index, &f)) << index;
    EXPECT_EQ(f->oVft, slots[index].first) << Narrow(Name(vtable.Get(), f->memid));
    EXPECT_EQ(f->cParams, slots[index].second) << Narrow(Name(vtable.Get(), f->memid));
    EXPECT_EQ(f->callconv, CC_STDCALL);
    vtable->ReleaseFuncDesc(f);
  }
  FUNCDESC* beyond = nullptr;
  EXPECT_HRESULT_FAILED(vtable->GetFuncDesc(std::size(slots), &beyond));
}

TEST_F(TypeLib, EventInterfaceHasFourEventsWithoutArguments) {
  ComPtr<ITypeInfo> events = Info(2);
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(events->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, DIID___DSWendrixControl));
  ASSERT_EQ(attr->cFuncs, 4);
  EXPECT_EQ(attr->cVars, 0);
  events->ReleaseTypeAttr(attr);
  const struct {
    DISPID id;
    const wchar_t* name;
    const wchar_t* help;
  } rows[] = {{1, L"dBOnChangeLeft", L""},
              {2, L"dBOnChangeRight", L""},
              {3, L"OnStop", L"Wendrix Stop"},
              {4, L"OnStart", L"Wendrix Start"}};
  for (UINT i = 0; i < 4; ++i) {
    SCOPED_TRACE(Narrow(rows[i].name));
    FUNCDESC* f = nullptr;
    ASSERT_HRESULT_SUCCEEDED(events->GetFuncDesc(i, &f));
    EXPECT_EQ(f->memid, rows[i].id);
    EXPECT_EQ(f->funckind, FUNC_DISPATCH);
    EXPECT_EQ(f->invkind, INVOKE_FUNC);
    EXPECT_EQ(f->cParams, 0);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_VOID);
    events->ReleaseFuncDesc(f);
    std::wstring doc;
    EXPECT_EQ(Name(events.Get(), rows[i].id, &doc), rows[i].name);
    EXPECT_EQ(doc, rows[i].help);
  }
}

TEST_F(TypeLib, ClassImplementsTheDualInterfaceAndSourcesTheEvents) {
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetTypeInfoOfGuid(CLSID_DSWendrixControl, &coclass));
  const struct {
    const wchar_t* name;
    INT flags;
  } rows[] = {{L"_DSWendrixControl", IMPLTYPEFLAG_FDEFAULT},
              {L"__DSWendrixControl", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    ComPtr<ITypeInfo> impl;
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref));
    ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(i, &flags));
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, &impl));
    EXPECT_EQ(Name(impl.Get(), MEMBERID_NIL), rows[i].name);
    EXPECT_EQ(flags, rows[i].flags);
  }
}

TEST_F(TypeLib, EnumerationsCarryTheirConstants) {
  const struct {
    UINT index;
    std::vector<std::pair<const wchar_t*, LONG>> constants;
  } rows[] = {
      {3, {{L"TRANSPARENT", 0}, {L"OPAQUE", 1}}},
      {4, {{L"Eight", 8}, {L"Sixteen", 16}}},
      {5, {{L"Mono", 1}, {L"Stereo", 2}}},
      {6, {{L"CDQuality", 44100}, {L"MediumQuality", 22050}, {L"LowQuality", 11025}}},
      {7, {{L"None", 0}, {L"FixedSingle", 1}}},
  };
  for (const auto& row : rows) {
    ComPtr<ITypeInfo> info = Info(row.index);
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_EQ(attr->cVars, row.constants.size());
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < row.constants.size(); ++i) {
      VARDESC* v = nullptr;
      ASSERT_HRESULT_SUCCEEDED(info->GetVarDesc(i, &v));
      EXPECT_EQ(v->varkind, VAR_CONST);
      ASSERT_EQ(V_VT(v->lpvarValue), VT_I4);
      EXPECT_EQ(V_I4(v->lpvarValue), row.constants[i].second);
      std::wstring doc;
      EXPECT_EQ(Name(info.Get(), v->memid, &doc), row.constants[i].first);
      EXPECT_EQ(doc, row.constants[i].first) << "help string equals the name";
      info->ReleaseVarDesc(v);
    }
  }
}

TEST_F(TypeLib, WaveFormatRecordIsTwentyBytes) {
  const struct {
    const wchar_t* name;
    VARTYPE vt;
    ULONG offset;
  } fields[] = {{L"wFormatTag", VT_I2, 0},     {L"nChannels", VT_I2, 2},
                {L"nSamplesPerSec", VT_I4, 4}, {L"nAvgBytesPerSec", VT_I4, 8},
                {L"nBlockAlign", VT_I2, 12},   {L"wBitsPerSample", VT_I2, 14},
                {L"cbSize", VT_I2, 16}};
  ComPtr<ITypeInfo> record = Info(8);
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(record->GetTypeAttr(&attr));
  EXPECT_EQ(attr->cbSizeInstance, 20u);
  EXPECT_EQ(attr->cbAlignment, 4);
  ASSERT_EQ(attr->cVars, std::size(fields));
  record->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < std::size(fields); ++i) {
    VARDESC* v = nullptr;
    ASSERT_HRESULT_SUCCEEDED(record->GetVarDesc(i, &v));
    EXPECT_EQ(v->varkind, VAR_PERINSTANCE);
    EXPECT_EQ(v->elemdescVar.tdesc.vt, fields[i].vt);
    EXPECT_EQ(v->oInst, fields[i].offset);
    std::wstring doc;
    EXPECT_EQ(Name(record.Get(), v->memid, &doc), fields[i].name);
    EXPECT_EQ(doc, fields[i].name);
    record->ReleaseVarDesc(v);
  }
}

}  // namespace
}  // namespace wendrix::com_test
