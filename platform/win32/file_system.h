// The file services on Windows: the WAVE writer's output file and the binary file of the size
// patch, both on wide-character paths.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/files.h"

namespace wendrix::win32 {

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> OpenOutputFile(const std::string& path) override;
  void Pause(int32_t milliseconds) override;  // Sleep
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path,
                                             const FileIdentity& same_as) override;
  // GetFullPathNameW; throws Error 52 for a name that cannot be passed exactly.
  std::string FullPath(const std::string& path) override;
};

}  // namespace wendrix::win32
