#include "platform/win32/file_system.h"

#include "platform/utf16.h"
#include "platform/win32/binary_file.h"
#include "platform/win32/full_path.h"
#include "platform/win32/output_file.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {

std::unique_ptr<MultimediaFile> Win32FileSystem::OpenOutputFile(const std::string& path) {
  return OutputFile::Open(path);
}

void Win32FileSystem::Pause(int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

std::unique_ptr<BinaryFile> Win32FileSystem::OpenBinaryFile(const std::string& path,
                                                            const FileIdentity& same_as) {
  return Win32BinaryFile::Open(path, same_as);
}

std::string Win32FileSystem::FullPath(const std::string& path) {
  CheckFileName("create", path);
  DWORD error = 0;
  const std::wstring full = FullPathWide(Wide(path), error);
  if (full.empty()) throw FileError("create", path, error);
  return Narrow(full);
}

}  // namespace wendrix::win32
