// The multimedia file of the WAVE writer on Windows: the mmio functions on a file that is
// created with a wide-character path, unbuffered, so every write reaches the file at once and
// a reader sees the header while the recording runs.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace wendrix::win32 {

class MmioFile : public MultimediaFile {
 public:
  // Creates `path` (UTF-8), or truncates an existing file, for reading and writing. Throws
  // Error 76/70/61/75 naming the path when it cannot be created.
  static std::unique_ptr<MultimediaFile> Create(const std::string& path);

  // The results are the mmio functions' own; after Close every call fails (Seek and Write
  // with -1, the others with kFileInvalidHandle).
  int32_t Seek(int32_t offset, int32_t origin) override;
  uint32_t CreateChunk(ChunkInfo& chunk, uint32_t flags) override;
  int32_t Write(const void* data, int32_t count) override;
  uint32_t Ascend(ChunkInfo& chunk, uint32_t flags) override;
  uint32_t Close() override;

 private:
  explicit MmioFile(UniqueMmio file);

  UniqueMmio file_;
};

}  // namespace wendrix::win32
