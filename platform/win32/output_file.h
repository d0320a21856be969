// The output file of a recording on Windows: a file opened by its wide-character name (in its
// folder, as below) and written through that handle, unbuffered, so every write reaches
// the system at once, a reader sees the header while the recording runs, and the sizes can
// be brought up to date in place. The chunk calls write the bytes the platform's multimedia
// file functions would; those could give neither the opening flags below nor the handle.
//
// Only a plain file on a disk is taken. A name whose form is not a file's (a device, a pipe or
// mailslot, the system's device namespace, a stream after ':') is refused before anything is
// opened. The folder is opened first, following links and junctions above the file (a folder
// moved to another drive through a junction, a redirected Documents, is an ordinary setup);
// the file is opened relative to that folder's handle, without following a link at the name,
// and taken only when the system's final path of it is that folder's followed by the name: a
// link at the name is refused whatever its target is called, and a folder replaced by a link
// after it was opened cannot redirect the file. A failed start lets go only of the file it
// made, through its handle (see LetGoOfCreated).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/win32/open_takes.h"
#include "platform/win32/unique_handle.h"

namespace wendrix::win32 {

class OutputFile : public MultimediaFile {
 public:
  // Opens `path` (UTF-8) for reading and writing: creates it when it is missing, opens an
  // existing file as it is. Throws Error naming the path when it cannot be opened: FileHeld
  // on a sharing violation, VolumeGone when the volume is not there, Error 75 for a device,
  // a pipe, a stream or a link, and 76/70/61/75 as the host's file statements give them.
  static std::unique_ptr<MultimediaFile> Open(const std::string& path);
  ~OutputFile() override;

  bool Created() const override { return created_; }
  FileIdentity Identity() const override { return identity_; }
  uint32_t Truncate() override;
  bool PatchLong(uint32_t offset, uint32_t value) override;
  void Discard() override;
  // As the platform's multimedia file functions: after Close every call fails (Seek and
  // Write with -1, the others with kFileInvalidHandle).
  int32_t Seek(int32_t offset, int32_t origin) override;
  uint32_t CreateChunk(ChunkInfo& chunk, uint32_t flags) override;
  int32_t Write(const void* data, int32_t count) override;
  uint32_t Ascend(ChunkInfo& chunk, uint32_t flags) override;
  uint32_t Close() override;

 private:
  OutputFile(UniqueFile file, bool created, FileIdentity identity);
  // Writes at `offset` without regard to the position; the count written, or -1.
  int64_t WriteAt(int64_t offset, const void* data, uint32_t count);
  void Forget();  // gives the exit walk's slot back

  UniqueFile file_;
  bool created_;
  FileIdentity identity_;
  int64_t position_ = 0;
  int64_t end_ = 0;  // the end of what was written
  OpenTake* take_ = nullptr;
};

}  // namespace wendrix::win32
