// The identifiers of the type library, the class and its interfaces, defined once.
#include "platform/win32/win_headers.h"

// After the platform's headers, so that only the identifiers below are defined here.
#include <initguid.h>

#include "Wendrix_h.h"
