#include "platform/win32/binary_file.h"

#include <utility>

#include "platform/error.h"
#include "platform/win32/file_identity.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {
namespace {

// How long an opening waits for a program that holds the file without sharing writes.
constexpr ULONGLONG kSharingWaitMs = 2000;
constexpr DWORD kSharingRetryMs = 50;

}  // namespace

Win32BinaryFile::Win32BinaryFile(UniqueFile file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {}

std::unique_ptr<BinaryFile> Win32BinaryFile::Open(const std::string& path,
                                                  const FileIdentity& same_as) {
  const std::wstring wide = FileNameWide("open", path);
  // A scanner, a sync client or Explorer reading the file's properties may hold it for a
  // moment without sharing writes; the opening waits for it, a bounded time. It never creates
  // the file: a patch of a file that is gone must fail, not leave a header-less one.
  const ULONGLONG started = GetTickCount64();
  for (;;) {
    // Readers may look at the file meanwhile; no one else may write it.
    // A link put at the name meanwhile is opened as itself, and fails the check below.
    UniqueFile file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                nullptr));
    if (file) {
      // Only the file the recording wrote takes its sizes: one that replaced it at the name is
      // left alone.
      if (same_as != FileIdentity{} && IdentityOf(file.get()) != same_as) {
        throw FileError("open", path, ERROR_SUCCESS,
                        "another file has taken its name since the recording began; it was left "
                        "as it is");
      }
      return std::unique_ptr<BinaryFile>(new Win32BinaryFile(std::move(file), path));
    }
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!held || GetTickCount64() - started >= kSharingWaitMs) ThrowFileError("open", path, error);
    Sleep(kSharingRetryMs);
  }
}

void Win32BinaryFile::WriteLongAt(uint32_t offset, int32_t value) {
  if (!file_) throw Error(errc::PathFileAccess, "The file \"" + path_ + "\" is closed");
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  if (!SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN))
    ThrowFileError("write to", path_, GetLastError());
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  DWORD written = 0;
  if (!WriteFile(file_.get(), bytes, sizeof bytes, &written, nullptr))
    ThrowFileError("write to", path_, GetLastError());
  if (written != sizeof bytes) throw FileError("write to", path_, ERROR_DISK_FULL);
}

void Win32BinaryFile::Close() {
  if (!file_) throw Error(errc::PathFileAccess, "The file \"" + path_ + "\" is closed");
  if (!file_.reset()) throw FileError("close", path_, GetLastError());
}

}  // namespace wendrix::win32
