// The binary file of the size patch on Windows: CreateFileW with a wide-character path, so any
// Unicode name works.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace wendrix::win32 {

class Win32BinaryFile : public BinaryFile {
 public:
  // Opens the existing file `path` (UTF-8) for reading and writing without truncating it,
  // waiting up to two seconds while another program holds it. Throws Error 76/70/61/75 naming
  // the path when it cannot be opened (76 when it is missing), VolumeGone when its volume is
  // not there, and 75 when `same_as` is given and the file at the name is another one.
  static std::unique_ptr<BinaryFile> Open(const std::string& path, const FileIdentity& same_as);

  // Throws Error naming the path when the position cannot be set or the 4 bytes cannot all be
  // written (a short write is a full disk: 61).
  void WriteLongAt(uint32_t offset, int32_t value) override;
  // Throws Error 75 when the file is closed already or the system cannot close it.
  void Close() override;

 private:
  Win32BinaryFile(UniqueFile file, std::string path);

  UniqueFile file_;
  std::string path_;
};

}  // namespace wendrix::win32
