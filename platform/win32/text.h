// UTF-8 (the core's strings) to and from UTF-16 (the platform's) and BSTR.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <string>

namespace wendrix::win32 {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const wchar_t* utf16, size_t length);
std::string Narrow(const std::wstring& utf16);
// Unpaired surrogates keep their code unit (platform/utf16.h), so a name can be checked.
// A null BSTR reads as the empty string.
std::string NarrowBstr(BSTR text);
// Throws Error 52 "Bad file name or number", `Cannot <verb> "<path>": <why>`, when `path`
// cannot be passed to the file system exactly (FileNameProblem).
void CheckFileName(const char* verb, const std::string& path);
// A path exactly as the file system must see it, a long one with the \\?\ prefix
// (ExtendedLengthPath); throws as CheckFileName does.
std::wstring FileNameWide(const char* verb, const std::string& path);
// A new BSTR (the caller frees it); throws std::bad_alloc when there is no memory.
BSTR AllocBstr(const std::string& utf8);

}  // namespace wendrix::win32
