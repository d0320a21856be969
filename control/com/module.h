// The module: its handle and path.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::com {

HINSTANCE ModuleHandle();
// The full path of Wendrix.ocx.
std::wstring ModulePath();

}  // namespace wendrix::com
