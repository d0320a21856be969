#include "platform/win32/file_system.h"

#include "platform/win32/binary_file.h"
#include "platform/win32/mmio_file.h"

namespace wendrix::win32 {

std::unique_ptr<MultimediaFile> Win32FileSystem::CreateMultimediaFile(const std::string& path) {
  return MmioFile::Create(path);
}

std::unique_ptr<BinaryFile> Win32FileSystem::OpenBinaryFile(const std::string& path) {
  return Win32BinaryFile::Open(path);
}

}  // namespace wendrix::win32
