// UTF-8 (the core's strings) to and from UTF-16 (the platform's) and BSTR.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const wchar_t* utf16, size_t length);
std::string Narrow(const std::wstring& utf16);
// A null BSTR reads as the empty string.
std::string NarrowBstr(BSTR text);
// A new BSTR (the caller frees it); throws std::bad_alloc when there is no memory.
BSTR AllocBstr(const std::string& utf8);

}  // namespace wendrix::win32
