// The Windows headers as the Windows side of Wendrix includes them, first of all (before any
// header of the core), with the one macro that would rename a member of the core's interfaces
// taken back.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

// <winuser.h> renames MessageBox to MessageBoxW; Container::MessageBox keeps its name.
#undef MessageBox
