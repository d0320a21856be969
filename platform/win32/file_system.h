// The file services on Windows: the WAVE writer's multimedia file (mmio) and the binary file
// of the size patch, both on wide-character paths.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/files.h"

namespace wendrix::win32 {

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> CreateMultimediaFile(const std::string& path) override;
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path) override;
  // GetFullPathNameW; throws Error 52 for a name that cannot be passed exactly.
  std::string FullPath(const std::string& path) override;
  void Remove(const std::string& path) override;
};

}  // namespace wendrix::win32
