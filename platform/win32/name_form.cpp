#include "platform/win32/name_form.h"

#include <cwchar>

namespace wendrix::win32 {
namespace {

// The prefixes, shares and drive letters looked at are ASCII: compared without the C runtime's
// locale.
wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size() || AsciiLower(text[at + i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDrive(const std::wstring& text, size_t at) {
  return at + 2 < text.size() && AsciiLower(text[at]) >= L'a' && AsciiLower(text[at]) <= L'z' &&
         text[at + 1] == L':' && IsSlash(text[at + 2]);
}

// The share of the network path whose server name starts at `at`: "" when there is none.
std::wstring ShareOf(const std::wstring& text, size_t at) {
  const size_t slash = text.find_first_of(L"\\/", at);
  if (slash == std::wstring::npos || slash == at) return {};
  const size_t end = text.find_first_of(L"\\/", slash + 1);
  return text.substr(slash + 1, end == std::wstring::npos ? std::wstring::npos : end - slash - 1);
}

}  // namespace

const char* NameFormRefusal(const std::wstring& full) {
  constexpr const char* kDevice =
      "the name is a device or a pipe, not a file on a disk; give the name of a file in a folder";
  size_t rest = 0;  // where the part after the drive, share or volume may begin
  std::wstring share;
  if (StartsWithNoCase(full, 0, L"\\\\?\\") || StartsWithNoCase(full, 0, L"\\??\\")) {
    if (IsDrive(full, 4)) {
      rest = 6;
    } else if (StartsWithNoCase(full, 4, L"UNC\\")) {
      share = ShareOf(full, 8);
      if (share.empty()) return kDevice;
    } else if (!StartsWithNoCase(full, 4, L"Volume{") || StartsWithNoCase(full, 0, L"\\??\\")) {
      return kDevice;  // GLOBALROOT, a device by its object name, a pipe
    }
  } else if (StartsWithNoCase(full, 0, L"\\\\.\\") || StartsWithNoCase(full, 0, L"//./") ||
             StartsWithNoCase(full, 0, L"//?/")) {
    return kDevice;
  } else if (full.size() > 2 && IsSlash(full[0]) && IsSlash(full[1])) {
    share = ShareOf(full, 2);
    if (share.empty()) return kDevice;
  } else if (IsDrive(full, 0)) {
    rest = 2;
  } else {
    return "the name does not lead to a file on a disk; give the name of a file in a folder";
  }
  for (const wchar_t* pipe : {L"pipe", L"mailslot"}) {
    if (share.size() == std::wcslen(pipe) && StartsWithNoCase(share, 0, pipe)) return kDevice;
  }
  if (full.find(L':', rest) != std::wstring::npos) {
    return "the name has a stream (a ':' after the drive), which would be written into a hidden "
           "part of another file; give the name of a file without ':'";
  }
  return nullptr;
}

}  // namespace wendrix::win32
