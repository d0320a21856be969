// The identifiers of the type library, the class and its interfaces, defined once.
#include <initguid.h>

#include "Wendrix_h.h"
#include "platform/win32/win_headers.h"
