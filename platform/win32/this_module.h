// The module (the OCX, or a program that links this code) whose code is running: where its
// window classes are registered.
#pragma once

#include "platform/win32/win_headers.h"

namespace wendrix::win32 {

inline HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

}  // namespace wendrix::win32
