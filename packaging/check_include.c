/* The package's include folder as a C developer meets it, run under Wine by check-package.sh:
 *
 *   check_include.exe DIR\include\Wendrix.tlb DIR\Wendrix.ocx
 *
 * Compiles as C against include\Wendrix.h (the package check builds it so), loads the shipped
 * Wendrix.tlb with LoadTypeLib and the library embedded in Wendrix.ocx, and checks that they are
 * the same library, type by type and member by member, and that the header's named GUIDs are
 * the library's. Prints each difference; exit code 0 when there is none. */
#define COBJMACROS
/* windows.h first, initguid.h right before the header whose GUIDs it defines. */
/* clang-format off */
#include <windows.h>
#include <ocidl.h>
#include <stdio.h>
#include <initguid.h>
#include "Wendrix.h"
/* clang-format on */

static int faults;

static void fault(const char* what, const wchar_t* name) {
  printf("check_include: %s%s%ls\n", what, name ? ": " : "", name ? name : L"");
  ++faults;
}

/* One type of each library, compared by what a client relies on. */
static void compare_type(ITypeInfo* a, ITypeInfo* b) {
  TYPEATTR *ta = NULL, *tb = NULL;
  BSTR name = NULL, other = NULL;
  ITypeInfo_GetDocumentation(a, MEMBERID_NIL, &name, NULL, NULL, NULL);
  ITypeInfo_GetDocumentation(b, MEMBERID_NIL, &other, NULL, NULL, NULL);
  if (!name || !other || wcscmp(name, other)) fault("a type of another name", name);
  if (FAILED(ITypeInfo_GetTypeAttr(a, &ta)) || FAILED(ITypeInfo_GetTypeAttr(b, &tb))) {
    fault("no type attributes", name);
  } else {
    if (!IsEqualGUID(&ta->guid, &tb->guid) || ta->typekind != tb->typekind ||
        ta->cFuncs != tb->cFuncs || ta->cVars != tb->cVars || ta->cImplTypes != tb->cImplTypes ||
        ta->wTypeFlags != tb->wTypeFlags || ta->wMajorVerNum != tb->wMajorVerNum ||
        ta->wMinorVerNum != tb->wMinorVerNum)
      fault("different type attributes", name);
    else
      for (UINT i = 0; i < ta->cFuncs; ++i) {
        FUNCDESC *fa = NULL, *fb = NULL;
        if (FAILED(ITypeInfo_GetFuncDesc(a, i, &fa)) || FAILED(ITypeInfo_GetFuncDesc(b, i, &fb)) ||
            fa->memid != fb->memid || fa->invkind != fb->invkind || fa->cParams != fb->cParams ||
            fa->funckind != fb->funckind || fa->elemdescFunc.tdesc.vt != fb->elemdescFunc.tdesc.vt)
          fault("a different member", name);
        if (fa) ITypeInfo_ReleaseFuncDesc(a, fa);
        if (fb) ITypeInfo_ReleaseFuncDesc(b, fb);
      }
  }
  if (ta) ITypeInfo_ReleaseTypeAttr(a, ta);
  if (tb) ITypeInfo_ReleaseTypeAttr(b, tb);
  SysFreeString(name);
  SysFreeString(other);
}

/* The header's constant for the type of this name is that type's GUID. */
static void check_guid(ITypeLib* lib, const wchar_t* type, const GUID* expected) {
  ITypeInfo* info = NULL;
  TYPEATTR* attr = NULL;
  MEMBERID id = 0;
  USHORT found = 1;
  OLECHAR* name = SysAllocString(type);
  if (FAILED(ITypeLib_FindName(lib, name, 0, &info, &id, &found)) || found != 1 ||
      FAILED(ITypeInfo_GetTypeAttr(info, &attr)) || !IsEqualGUID(&attr->guid, expected))
    fault("the header's GUID is not the library's", type);
  if (attr) ITypeInfo_ReleaseTypeAttr(info, attr);
  if (info) ITypeInfo_Release(info);
  SysFreeString(name);
}

int wmain(int argc, wchar_t** argv) {
  ITypeLib *shipped = NULL, *embedded = NULL;
  if (argc != 3) return 2;
  if (FAILED(LoadTypeLib(argv[1], &shipped))) fault("LoadTypeLib fails", argv[1]);
  if (FAILED(LoadTypeLibEx(argv[2], REGKIND_NONE, &embedded))) fault("no library in", argv[2]);
  if (faults) return 1;

  TLIBATTR *la = NULL, *lb = NULL;
  ITypeLib_GetLibAttr(shipped, &la);
  ITypeLib_GetLibAttr(embedded, &lb);
  if (!IsEqualGUID(&la->guid, &lb->guid) || la->wMajorVerNum != lb->wMajorVerNum ||
      la->wMinorVerNum != lb->wMinorVerNum || la->lcid != lb->lcid || la->syskind != lb->syskind)
    fault("different library attributes", argv[1]);
  if (!IsEqualGUID(&la->guid, &LIBID_Wendrix)) fault("LIBID_Wendrix is not the library's", NULL);
  ITypeLib_ReleaseTLibAttr(shipped, la);
  ITypeLib_ReleaseTLibAttr(embedded, lb);

  UINT count = ITypeLib_GetTypeInfoCount(shipped);
  if (count != ITypeLib_GetTypeInfoCount(embedded)) fault("a different number of types", argv[1]);
  for (UINT i = 0; i < count && !faults; ++i) {
    ITypeInfo *a = NULL, *b = NULL;
    if (SUCCEEDED(ITypeLib_GetTypeInfo(shipped, i, &a)) &&
        SUCCEEDED(ITypeLib_GetTypeInfo(embedded, i, &b)))
      compare_type(a, b);
    else
      fault("a type cannot be read", argv[1]);
    if (a) ITypeInfo_Release(a);
    if (b) ITypeInfo_Release(b);
  }
  check_guid(shipped, L"DSWendrixControl", &CLSID_DSWendrixControl);
  check_guid(shipped, L"_DSWendrixControl", &IID__DSWendrixControl);
  check_guid(shipped, L"__DSWendrixControl", &DIID___DSWendrixControl);
  /* The enumerations are there for C too (TRANSPARENT and OPAQUE are GDI's macros again after
   * the header). */
  if (FixedSingle != 1 || CDQuality != 44100 || Stereo != 2 || Sixteen != 16)
    fault("the header's enumerations are not the library's", NULL);

  ITypeLib_Release(shipped);
  ITypeLib_Release(embedded);
  printf("check_include: %u types, %d faults\n", count, faults);
  return faults ? 1 : 0;
}
