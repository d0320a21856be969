// typelib_finish IN.tlb OUT.tlb
//
// Build-time tool, run under Wine: copies the library widl compiled from Wendrix.idl into a new
// library written with ICreateTypeLib2, so that the result carries what widl cannot express
// (MendTypeInfoTable below mends what the writer stores its own way):
//   - the nine type descriptions in the order hosts have always seen them;
//   - version 1.0 and the hidden and nonextensible flags on the event dispinterface;
//   - help strings equal to their own names on every enumeration constant and record field;
//   - no names on put parameters and retval parameters (only FileName is named).
// Everything else (GUIDs, DISPIDs, types, flags, help strings) is taken from widl's output.
#include <windows.h>
// After windows.h:
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t* const kOrder[] = {
    L"_DSWendrixControl", L"DSWendrixControl", L"__DSWendrixControl", L"BackStyle",         L"Bits",
    L"channels",          L"Samples",          L"BorderStyle",        L"WENDRIXWAVEFORMAT",
};
const wchar_t kEvents[] = L"__DSWendrixControl";

struct Failure {
  const char* what;
  HRESULT hr;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw Failure{what, hr};
}

std::wstring NameOf(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL, std::wstring* doc = nullptr) {
  BSTR name = nullptr, text = nullptr;
  Check(ti->GetDocumentation(id, &name, &text, nullptr, nullptr), "GetDocumentation");
  std::wstring result = name ? name : L"";
  if (doc) *doc = text ? text : L"";
  SysFreeString(name);
  SysFreeString(text);
  return result;
}

// What one description of the new library should carry.
struct Stored {
  TYPEKIND kind;
  WORD flags;
  ULONG size;
};

class Finisher {
 public:
  Finisher(ITypeLib* src, ICreateTypeLib2* dst) : src_(src), dst_(dst) {}

  void Run() {
    TLIBATTR* la = nullptr;
    Check(src_->GetLibAttr(&la), "GetLibAttr");
    TLIBATTR lib = *la;
    src_->ReleaseTLibAttr(la);
    BSTR name = nullptr, doc = nullptr;
    Check(src_->GetDocumentation(-1, &name, &doc, nullptr, nullptr), "library documentation");
    Check(dst_->SetName(name), "SetName");
    Check(dst_->SetDocString(doc), "SetDocString");
    SysFreeString(name);
    SysFreeString(doc);
    Check(dst_->SetGuid(lib.guid), "SetGuid");
    Check(dst_->SetLcid(lib.lcid), "SetLcid");
    Check(dst_->SetVersion(lib.wMajorVerNum, lib.wMinorVerNum), "SetVersion");
    Check(dst_->SetLibFlags(LIBFLAG_FCONTROL), "SetLibFlags");

    // First create every description, so that references between them can be made in any order.
    for (const wchar_t* n : kOrder) {
      Entry e;
      e.name = n;
      Check(FindSource(n, e.src.ReleaseAndGetAddressOf()), "find type");
      TYPEATTR* ta = nullptr;
      Check(e.src->GetTypeAttr(&ta), "GetTypeAttr");
      e.attr = *ta;
      e.src->ReleaseTypeAttr(ta);
      e.dual = e.attr.typekind == TKIND_DISPATCH && (e.attr.wTypeFlags & TYPEFLAG_FDUAL);
      TYPEKIND kind = e.dual ? TKIND_INTERFACE : e.attr.typekind;
      Check(dst_->CreateTypeInfo(const_cast<LPOLESTR>(n), kind, e.create.ReleaseAndGetAddressOf()),
            "CreateTypeInfo");
      Check(e.create->QueryInterface(IID_ITypeInfo,
                                     reinterpret_cast<void**>(e.info.ReleaseAndGetAddressOf())),
            "QueryInterface(ITypeInfo)");
      entries_.emplace_back(std::move(e));
    }
    for (Entry& e : entries_) Fill(e);
    for (Entry& e : entries_) Check(e.create->LayOut(), "LayOut");
    Check(dst_->SaveAllChanges(), "SaveAllChanges");
  }

  // What each description should carry, in library order.
  std::vector<Stored> Wanted() const {
    std::vector<Stored> out;
    for (const Entry& e : entries_)
      out.push_back({e.attr.typekind, e.flags, e.attr.cbSizeInstance});
    return out;
  }

 private:
  struct Entry {
    std::wstring name;
    ComPtr<ITypeInfo> src;
    TYPEATTR attr{};
    bool dual = false;
    WORD flags = 0;  // as set on the new description
    ComPtr<ICreateTypeInfo> create;
    ComPtr<ITypeInfo> info;
  };

  HRESULT FindSource(const wchar_t* name, ITypeInfo** out) {
    for (UINT i = 0, n = src_->GetTypeInfoCount(); i < n; ++i) {
      ComPtr<ITypeInfo> ti;
      Check(src_->GetTypeInfo(i, ti.ReleaseAndGetAddressOf()), "GetTypeInfo");
      if (NameOf(ti.Get()) == name) {
        *out = ti.Detach();
        return S_OK;
      }
    }
    std::fprintf(stderr, "typelib_finish: %ls not in the compiled library\n", name);
    return TYPE_E_ELEMENTNOTFOUND;
  }

  // The description in the new library that stands for `ref` (one of ours, by name), or `ref`
  // itself for a description of another library (stdole2's IDispatch and OLE_COLOR).
  ITypeInfo* Target(ITypeInfo* ref) {
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    Check(ref->GetContainingTypeLib(lib.ReleaseAndGetAddressOf(), &index), "GetContainingTypeLib");
    TLIBATTR* la = nullptr;
    Check(lib->GetLibAttr(&la), "GetLibAttr");
    TLIBATTR* own = nullptr;
    Check(src_->GetLibAttr(&own), "GetLibAttr");
    bool ours = IsEqualGUID(la->guid, own->guid);
    lib->ReleaseTLibAttr(la);
    src_->ReleaseTLibAttr(own);
    if (!ours) return ref;
    std::wstring name = NameOf(ref);
    for (Entry& e : entries_)
      if (e.name == name) return e.info.Get();
    throw Failure{"reference to a type outside the list", TYPE_E_ELEMENTNOTFOUND};
  }

  HREFTYPE MapRef(Entry& e, ITypeInfo* src_owner, HREFTYPE href) {
    ComPtr<ITypeInfo> ref;
    Check(src_owner->GetRefTypeInfo(href, ref.ReleaseAndGetAddressOf()), "GetRefTypeInfo");
    HREFTYPE out = 0;
    Check(e.create->AddRefTypeInfo(Target(ref.Get()), &out), "AddRefTypeInfo");
    return out;
  }

  // Deep copy of a TYPEDESC with its references moved into the new library.
  void CopyTypeDesc(Entry& e, ITypeInfo* owner, const TYPEDESC& from, TYPEDESC& to) {
    to = from;
    if (from.vt == VT_PTR || from.vt == VT_SAFEARRAY) {
      typedescs_.push_back(std::make_unique<TYPEDESC>());
      to.lptdesc = typedescs_.back().get();
      CopyTypeDesc(e, owner, *from.lptdesc, *to.lptdesc);
    } else if (from.vt == VT_USERDEFINED) {
      to.hreftype = MapRef(e, owner, from.hreftype);
    }
  }

  void AddImplementation(Entry& e, UINT index, ITypeInfo* target, int flags) {
    HREFTYPE href = 0;
    Check(e.create->AddRefTypeInfo(target, &href), "AddRefTypeInfo");
    Check(e.create->AddImplType(index, href), "AddImplType");
    if (flags) Check(e.create->SetImplTypeFlags(index, flags), "SetImplTypeFlags");
  }

  void Fill(Entry& e) {
    WORD flags = e.attr.wTypeFlags;
    if (e.dual) flags |= VtableHalfFlags(e);
    if (e.name == kEvents) flags |= TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
    // The dispatch half of a dual interface is flagged dispatchable by the library itself.
    flags &= ~TYPEFLAG_FDISPATCHABLE;
    if (!IsEqualGUID(e.attr.guid, GUID_NULL)) Check(e.create->SetGuid(e.attr.guid), "SetGuid");
    Check(e.create->SetTypeFlags(flags), "SetTypeFlags");
    e.flags = flags;
    Check(e.create->SetVersion(1, 0), "SetVersion");
    std::wstring doc;
    NameOf(e.src.Get(), MEMBERID_NIL, &doc);
    if (!doc.empty()) Check(e.create->SetDocString(doc.data()), "SetDocString");

    switch (e.attr.typekind) {
      case TKIND_DISPATCH: {
        // Both a dual interface and the event dispinterface derive from IDispatch; a dual
        // interface's entries are those of its vtable half.
        ComPtr<ITypeInfo> base;
        HREFTYPE href = 0;
        Check(e.src->GetRefTypeOfImplType(0, &href), "GetRefTypeOfImplType");
        Check(e.src->GetRefTypeInfo(href, base.ReleaseAndGetAddressOf()), "GetRefTypeInfo");
        AddImplementation(e, 0, Target(base.Get()), 0);
        ComPtr<ITypeInfo> funcs;
        if (e.dual) {
          Check(e.src->GetRefTypeOfImplType(-1, &href), "GetRefTypeOfImplType(-1)");
          Check(e.src->GetRefTypeInfo(href, funcs.ReleaseAndGetAddressOf()), "vtable half");
        } else {
          funcs = e.src;
        }
        CopyFunctions(e, funcs.Get());
        break;
      }
      case TKIND_COCLASS:
        for (UINT i = 0; i < e.attr.cImplTypes; ++i) {
          HREFTYPE href = 0;
          INT impl_flags = 0;
          ComPtr<ITypeInfo> ref;
          Check(e.src->GetRefTypeOfImplType(i, &href), "GetRefTypeOfImplType");
          Check(e.src->GetImplTypeFlags(i, &impl_flags), "GetImplTypeFlags");
          Check(e.src->GetRefTypeInfo(href, ref.ReleaseAndGetAddressOf()), "GetRefTypeInfo");
          AddImplementation(e, i, Target(ref.Get()), impl_flags);
        }
        break;
      case TKIND_ENUM:
      case TKIND_RECORD:
        if (e.attr.typekind == TKIND_RECORD)
          Check(e.create->SetAlignment(e.attr.cbAlignment), "SetAlignment");
        CopyVariables(e);
        break;
      default:
        throw Failure{"unexpected type kind", E_UNEXPECTED};
    }
  }

  // widl keeps the oleautomation flag of a dual interface on its vtable half only.
  WORD VtableHalfFlags(Entry& e) {
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> half;
    Check(e.src->GetRefTypeOfImplType(-1, &href), "GetRefTypeOfImplType(-1)");
    Check(e.src->GetRefTypeInfo(href, half.ReleaseAndGetAddressOf()), "vtable half");
    TYPEATTR* ta = nullptr;
    Check(half->GetTypeAttr(&ta), "GetTypeAttr");
    WORD flags = ta->wTypeFlags;
    half->ReleaseTypeAttr(ta);
    return flags;
  }

  void CopyFunctions(Entry& e, ITypeInfo* from) {
    TYPEATTR* ta = nullptr;
    Check(from->GetTypeAttr(&ta), "GetTypeAttr");
    UINT count = ta->cFuncs;
    from->ReleaseTypeAttr(ta);
    for (UINT i = 0; i < count; ++i) {
      FUNCDESC* fd = nullptr;
      Check(from->GetFuncDesc(i, &fd), "GetFuncDesc");
      FUNCDESC copy = *fd;
      std::vector<ELEMDESC> params(fd->lprgelemdescParam, fd->lprgelemdescParam + fd->cParams);
      for (SHORT p = 0; p < fd->cParams; ++p)
        CopyTypeDesc(e, from, fd->lprgelemdescParam[p].tdesc, params[p].tdesc);
      CopyTypeDesc(e, from, fd->elemdescFunc.tdesc, copy.elemdescFunc.tdesc);
      copy.lprgelemdescParam = params.empty() ? nullptr : params.data();
      copy.lprgscode = nullptr;
      copy.cScodes = 0;
      HRESULT hr = e.create->AddFuncDesc(i, &copy);

      // Names: the function, then only parameters that are neither a put's value nor retval.
      std::vector<BSTR> names(fd->cParams + 1, nullptr);
      UINT got = 0;
      Check(from->GetNames(fd->memid, names.data(), static_cast<UINT>(names.size()), &got),
            "GetNames");
      std::vector<LPOLESTR> keep{names[0]};
      bool is_put = fd->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
      for (SHORT p = 0; p < fd->cParams && p + 1u < got; ++p) {
        bool retval = fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL;
        bool value = is_put && p == fd->cParams - 1;
        if (!retval && !value) keep.push_back(names[p + 1]);
      }
      MEMBERID memid = fd->memid;
      from->ReleaseFuncDesc(fd);
      Check(hr, "AddFuncDesc");
      Check(e.create->SetFuncAndParamNames(i, keep.data(), static_cast<UINT>(keep.size())),
            "SetFuncAndParamNames");
      for (BSTR b : names) SysFreeString(b);
      std::wstring doc;
      NameOf(from, memid, &doc);
      if (!doc.empty()) Check(e.create->SetFuncDocString(i, doc.data()), "SetFuncDocString");
    }
  }

  void CopyVariables(Entry& e) {
    for (UINT i = 0; i < e.attr.cVars; ++i) {
      VARDESC* vd = nullptr;
      Check(e.src->GetVarDesc(i, &vd), "GetVarDesc");
      VARDESC copy = *vd;
      CopyTypeDesc(e, e.src.Get(), vd->elemdescVar.tdesc, copy.elemdescVar.tdesc);
      // Enumeration constants are stored as 4-byte Longs (widl writes VT_INT).
      VARIANT value;
      VariantInit(&value);
      if (vd->varkind == VAR_CONST) {
        Check(VariantChangeType(&value, vd->lpvarValue, 0, VT_I4), "VariantChangeType");
        copy.lpvarValue = &value;
        copy.elemdescVar.tdesc.vt = VT_I4;
      }
      HRESULT hr = e.create->AddVarDesc(i, &copy);
      MEMBERID memid = vd->memid;
      e.src->ReleaseVarDesc(vd);
      Check(hr, "AddVarDesc");
      std::wstring name = NameOf(e.src.Get(), memid);
      Check(e.create->SetVarName(i, name.data()), "SetVarName");
      // Each constant and field documents itself with its own name.
      Check(e.create->SetVarDocString(i, name.data()), "SetVarDocString");
    }
  }

  ITypeLib* src_;
  ICreateTypeLib2* dst_;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<TYPEDESC>> typedescs_;
};

// Oleaut32's writer (Wine's, which builds this library) stores a few values of the type-info
// table differently from a compiled library, and the loader reads them back as written:
//   - the event dispinterface gets IDispatch as explicit base and a vtable of IDispatch plus
//     the events, so that it would list QueryInterface and the rest as events; a compiled
//     library stores no explicit base (the loader supplies IDispatch) and the events only;
//   - a record keeps size 0, and a 64-bit library gives enumerations 8 bytes instead of 4;
//   - the class is flagged dispatchable.
// This sets those fields of the file's "MSFT" type-info table to what widl computed.
void MendTypeInfoTable(const wchar_t* path, const std::vector<Stored>& wanted, int pointer_size) {
  constexpr size_t kEntrySize = 0x64, kElements = 0x18, kFlags = 0x30, kVftSize = 0x4E,
                   kSize = 0x50, kBase = 0x54;
  FILE* f = _wfopen(path, L"r+b");
  if (!f) throw Failure{"open the written library", E_FAIL};
  std::vector<unsigned char> bytes;
  unsigned char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
    bytes.insert(bytes.end(), buf, buf + n);
  auto at = [&](size_t offset, size_t width) -> unsigned char* {
    if (offset + width > bytes.size()) throw Failure{"library file too short", E_FAIL};
    return &bytes[offset];
  };
  auto get = [&](size_t offset) {
    int32_t v;
    std::memcpy(&v, at(offset, 4), 4);
    return v;
  };
  auto set = [&](size_t offset, auto value) {
    std::memcpy(at(offset, sizeof value), &value, sizeof value);
  };
  if (get(0) != 0x5446534D) throw Failure{"library file is not MSFT", E_FAIL};
  const int32_t varflags = get(0x14), count = get(0x20);
  if (count != static_cast<int32_t>(wanted.size())) throw Failure{"type count differs", E_FAIL};
  // Header, optional help-DLL string offset, type-info offsets, then the segment directory
  // whose first entry locates the type-info table.
  const size_t segdir = 0x54 + ((varflags & 0x100) ? 4 : 0) + 4 * static_cast<size_t>(count);
  const size_t table = static_cast<size_t>(get(segdir));
  for (int index = 0; index < count; ++index) {
    const size_t entry = table + index * kEntrySize;
    const Stored& w = wanted[index];
    if ((get(entry) & 0xF) != w.kind) throw Failure{"type kinds differ", E_FAIL};
    if (w.kind == TKIND_DISPATCH && !(w.flags & TYPEFLAG_FDUAL)) {
      const int16_t own_functions = static_cast<int16_t>(get(entry + kElements) & 0xFFFF);
      set(entry + kVftSize, static_cast<int16_t>(own_functions * pointer_size));
      set(entry + kBase, int32_t{-1});
    } else if (w.kind == TKIND_RECORD || w.kind == TKIND_ENUM) {
      set(entry + kSize, static_cast<int32_t>(w.size));
    } else if (w.kind == TKIND_COCLASS) {
      set(entry + kFlags, static_cast<int32_t>(w.flags));
    }
  }
  std::fseek(f, 0, SEEK_SET);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  if (!ok) throw Failure{"rewrite the library", E_FAIL};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: typelib_finish IN.tlb OUT.tlb\n");
    return 2;
  }
  CoInitialize(nullptr);
  int rc = 0;
  try {
    ComPtr<ITypeLib> src;
    Check(LoadTypeLibEx(argv[1], REGKIND_NONE, src.ReleaseAndGetAddressOf()), "LoadTypeLibEx");
    TLIBATTR* la = nullptr;
    Check(src->GetLibAttr(&la), "GetLibAttr");
    SYSKIND syskind = la->syskind;
    src->ReleaseTLibAttr(la);
    DeleteFileW(argv[2]);
    ComPtr<ICreateTypeLib2> dst;
    Check(CreateTypeLib2(syskind, argv[2], dst.ReleaseAndGetAddressOf()), "CreateTypeLib2");
    Finisher finisher(src.Get(), dst.Get());
    finisher.Run();
    dst.Reset();
    MendTypeInfoTable(argv[2], finisher.Wanted(), syskind == SYS_WIN64 ? 8 : 4);
  } catch (const Failure& f) {
    std::fprintf(stderr, "typelib_finish: %s failed: 0x%08lx\n", f.what,
                 static_cast<unsigned long>(f.hr));
    rc = 1;
  }
  CoUninitialize();
  return rc;
}
