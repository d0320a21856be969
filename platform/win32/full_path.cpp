#include "platform/win32/full_path.h"

namespace wendrix::win32 {

std::wstring FullPathWide(const std::wstring& path, DWORD& error) {
  error = ERROR_SUCCESS;
  std::wstring full(MAX_PATH, L'\0');
  for (int round = 0; round < 3; ++round) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) {
      error = GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_INVALID_NAME;
      return {};
    }
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);  // too short: n counts the terminating NUL
  }
  error = ERROR_FILENAME_EXCED_RANGE;
  return {};
}

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\"))
    return path;
  DWORD error = 0;
  const std::wstring full = FullPathWide(path, error);
  if (full.empty() || full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return path;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace wendrix::win32
