// Where the registration goes: machine-wide (DllRegisterServer) or, inside DllInstall's
// per-user scope, the current user's classes (registration_user.cpp).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

namespace wendrix::com {

// Registers the type library for the machine (under HKLM\Software\Classes, never through a
// user's classes), or for the current user while DllInstall registers per user
// (RegisterTypeLibForUser).
HRESULT RegisterLibrary(ITypeLib* library, wchar_t* path);
// Removes the type library's registration from the same place.
HRESULT UnregisterLibrary(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND kind);
// True inside DllInstall's per-user scope: what only the machine has (the event source) is left.
bool RegisteringPerUser();

}  // namespace wendrix::com
