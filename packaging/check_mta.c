/* A client in the multithreaded apartment, run under Wine by check-package.sh beside
 * Wendrix.ocx and Wendrix.manifest with nothing registered: the control (apartment-threaded)
 * is made in an apartment of its own, and the calls on its dual interface cross to it through
 * the type library marshaler the manifest names. Sets SamplesPerSecond and reads it back;
 * exit code 0 when that worked. */
#define COBJMACROS
/* clang-format off */
#include <windows.h>
#include <ocidl.h>
#include <stdio.h>
#include <initguid.h>
#include "Wendrix.h"
/* clang-format on */

int wmain(void) {
  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
  _DSWendrixControl* control = NULL;
  HRESULT hr = CoCreateInstance(&CLSID_DSWendrixControl, NULL, CLSCTX_INPROC_SERVER,
                                &IID__DSWendrixControl, (void**)&control);
  if (FAILED(hr)) {
    printf("check_mta: CoCreateInstance from the MTA: 0x%08lx\n", (unsigned long)hr);
    return 2;
  }
  Samples rate = 0;
  hr = _DSWendrixControl_put_SamplesPerSecond(control, (Samples)22050);
  if (SUCCEEDED(hr)) hr = _DSWendrixControl_get_SamplesPerSecond(control, &rate);
  _DSWendrixControl_Release(control);
  CoUninitialize();
  printf("check_mta: SamplesPerSecond through the MTA: %ld (0x%08lx)\n", (long)rate,
         (unsigned long)hr);
  return SUCCEEDED(hr) && rate == 22050 ? 0 : 3;
}
