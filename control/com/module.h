// The module: its handle, and the count of live objects and server locks that decides
// whether DllCanUnloadNow lets the module go.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::com {

HINSTANCE ModuleHandle();
// The full path of Wendrix.ocx.
std::wstring ModulePath();

// Every live control object counts once, from construction to destruction.
void ObjectCreated();
void ObjectDestroyed();

}  // namespace wendrix::com
