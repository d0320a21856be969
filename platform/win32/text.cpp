#include "platform/win32/text.h"

#include <new>

#include "platform/error.h"
#include "platform/utf16.h"
#include "platform/win32/full_path.h"

namespace wendrix::win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* utf16, size_t length) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return Utf8FromUtf16(reinterpret_cast<const char16_t*>(utf16), utf16 ? length : 0);
}

std::string Narrow(const std::wstring& utf16) { return Narrow(utf16.data(), utf16.size()); }

std::string NarrowBstr(BSTR text) { return Narrow(text, text ? SysStringLen(text) : 0); }

void CheckFileName(const char* verb, const std::string& path) {
  const std::string problem = FileNameProblem(path);
  if (problem.empty()) return;
  std::string shown = path;
  for (char& c : shown)
    if (c == '\0') c = '?';
  throw Error(errc::BadFileName, std::string("Cannot ") + verb + " \"" + shown + "\": " + problem);
}

std::wstring FileNameWide(const char* verb, const std::string& path) {
  CheckFileName(verb, path);
  return ExtendedLengthPath(Wide(path));
}

BSTR AllocBstr(const std::string& utf8) {
  std::wstring w = Wide(utf8);
  BSTR b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

}  // namespace wendrix::win32
