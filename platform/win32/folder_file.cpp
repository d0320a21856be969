#include "platform/win32/folder_file.h"

#include <winternl.h>

namespace wendrix::win32 {
namespace {

// The system's own name of the file `handle` is open on ("\\?\C:\…"), "" when it cannot tell.
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int round = 0; round < 3; ++round) {
    const DWORD n = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                              FILE_NAME_NORMALIZED);
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(n);  // too short: n counts the terminating NUL
  }
  return {};
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

UniqueFile OpenFolder(const std::wstring& folder, DWORD& error) {
  UniqueFile handle(CreateFileW(
      folder.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  error = handle ? ERROR_SUCCESS : GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle && (GetFileType(handle.get()) != FILE_TYPE_DISK ||
                 !GetFileInformationByHandle(handle.get(), &info) ||
                 !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
    handle.reset();
    error = ERROR_PATH_NOT_FOUND;
  }
  if (error == ERROR_FILE_NOT_FOUND) error = ERROR_PATH_NOT_FOUND;
  return handle;
}

namespace {

UniqueFile OpenByName(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
                      DWORD disposition, DWORD& error) {
  UNICODE_STRING object_name{};
  object_name.Buffer = const_cast<wchar_t*>(name.c_str());
  object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  SECURITY_QUALITY_OF_SERVICE quality{};
  quality.Length = sizeof quality;
  quality.ImpersonationLevel = SecurityIdentification;
  quality.ContextTrackingMode = SECURITY_STATIC_TRACKING;
  OBJECT_ATTRIBUTES attributes{};
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  attributes.SecurityQualityOfService = &quality;
  IO_STATUS_BLOCK status_block{};
  HANDLE file = INVALID_HANDLE_VALUE;
  const NTSTATUS status = NtCreateFile(
      &file, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status_block, nullptr,
      FILE_ATTRIBUTE_NORMAL, share, disposition == CREATE_NEW ? FILE_CREATE : FILE_OPEN,
      FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (NT_SUCCESS(status)) {
    error = ERROR_SUCCESS;
    return UniqueFile(file);
  }
  error = RtlNtStatusToDosError(status);
  // As CreateFileW tells a name that is taken.
  if (disposition == CREATE_NEW && error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
  if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  return UniqueFile();
}

}  // namespace

UniqueFile OpenInFolder(HANDLE folder, const std::wstring& name, DWORD share, DWORD disposition,
                        DWORD& error) {
  // What CreateFileW asks for a file opened for reading and writing without a flag that changes
  // it, except that a link at the name is opened itself.
  return OpenByName(folder, name, GENERIC_READ | GENERIC_WRITE, share, disposition, error);
}

UniqueFile LookAtInFolder(HANDLE folder, const std::wstring& name) {
  DWORD error = ERROR_SUCCESS;
  return OpenByName(folder, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    OPEN_EXISTING, error);
}

bool IsNamedInFolder(HANDLE file, HANDLE folder, const std::wstring& name) {
  const std::wstring file_path = FinalPath(file);
  std::wstring folder_path = FinalPath(folder);
  if (file_path.empty() || folder_path.empty()) return true;
  if (folder_path.back() != L'\\') folder_path += L'\\';
  if (file_path.size() <= folder_path.size() ||
      !SameName(file_path.substr(0, folder_path.size()), folder_path)) {
    return false;
  }
  const std::wstring last = file_path.substr(folder_path.size());
  if (last.find(L'\\') != std::wstring::npos) return false;
  if (SameName(last, name)) return true;
  std::wstring short_path(file_path.size() + 1, L'\0');
  const DWORD n = GetShortPathNameW(file_path.c_str(), short_path.data(),
                                    static_cast<DWORD>(short_path.size()));
  if (n == 0 || n >= short_path.size()) return false;
  short_path.resize(n);
  const size_t slash = short_path.find_last_of(L'\\');
  return SameName(short_path.substr(slash == std::wstring::npos ? 0 : slash + 1), name);
}

bool DeletesByName() {
  static const bool by_name =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return by_name;
}

void LetGoOfCreated(HANDLE file, bool by_name) {
  if (by_name) {
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    return;
  }
  UniqueFile remover(
      ReOpenFile(file, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
  if (!remover) return;
  FILE_DISPOSITION_INFO dispose{};
  dispose.DeleteFile = TRUE;
  SetFileInformationByHandle(remover.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace wendrix::win32
