/* The package's include folder as a C developer meets it, run under Wine by check-package.sh:
 *
 *   check_include.exe DIR\include\Wendrix.tlb DIR\Wendrix.ocx
 *
 * Compiles as C against include\Wendrix.h; loads the shipped Wendrix.tlb with LoadTypeLib and
 * finds in it the library and the types the header's named GUIDs stand for; and checks that the
 * file is, byte for byte, the type library Wendrix.ocx embeds (resource TYPELIB 1). Prints each
 * fault; exit code 0 when there is none. */
#define COBJMACROS
/* windows.h first, initguid.h right before the header whose GUIDs it defines. */
/* clang-format off */
#include <windows.h>
#include <ocidl.h>
#include <stdio.h>
#include <string.h>
#include <initguid.h>
#include "Wendrix.h"
/* clang-format on */

static int faults;

static void fault(const char* what) {
  printf("check_include: %s\n", what);
  ++faults;
}

static void check_type(ITypeLib* lib, const GUID* guid, const char* what) {
  ITypeInfo* info = NULL;
  if (FAILED(ITypeLib_GetTypeInfoOfGuid(lib, guid, &info))) fault(what);
  if (info) ITypeInfo_Release(info);
}

int wmain(int argc, wchar_t** argv) {
  ITypeLib* lib = NULL;
  TLIBATTR* attr = NULL;
  if (argc != 3) return 2;
  if (FAILED(LoadTypeLib(argv[1], &lib))) {
    fault("LoadTypeLib refuses include\\Wendrix.tlb");
    return 1;
  }
  if (FAILED(ITypeLib_GetLibAttr(lib, &attr)) || !IsEqualGUID(&attr->guid, &LIBID_Wendrix) ||
      attr->wMajorVerNum != 2 || attr->wMinorVerNum != 0)
    fault("the library is not LIBID_Wendrix 2.0");
  if (attr) ITypeLib_ReleaseTLibAttr(lib, attr);
  check_type(lib, &CLSID_DSWendrixControl, "no class CLSID_DSWendrixControl in the library");
  check_type(lib, &IID__DSWendrixControl, "no interface IID__DSWendrixControl in the library");
  check_type(lib, &DIID___DSWendrixControl, "no interface DIID___DSWendrixControl in the library");
  ITypeLib_Release(lib);
  /* TRANSPARENT and OPAQUE are GDI's macros again after the header; the rest are the enums. */
  if (FixedSingle != 1 || CDQuality != 44100 || Stereo != 2 || Sixteen != 16)
    fault("the header's enumerations are not the library's");

  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  HMODULE ocx = LoadLibraryExW(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = ocx ? FindResourceW(ocx, MAKEINTRESOURCEW(1), L"TYPELIB") : NULL;
  const DWORD size = found ? SizeofResource(ocx, found) : 0;
  const void* embedded = found ? LockResource(LoadResource(ocx, found)) : NULL;
  static BYTE shipped[1 << 20];
  DWORD read = 0;
  if (file == INVALID_HANDLE_VALUE || !ReadFile(file, shipped, sizeof shipped, &read, NULL))
    fault("include\\Wendrix.tlb cannot be read");
  else if (!embedded)
    fault("Wendrix.ocx embeds no TYPELIB 1");
  else if (read != size || memcmp(shipped, embedded, size) != 0)
    fault("include\\Wendrix.tlb is not the library Wendrix.ocx embeds");
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (ocx) FreeLibrary(ocx);
  printf("check_include: %d faults\n", faults);
  return faults ? 1 : 0;
}
