// The file services on an ordinary file system, for tests: real files (so that tools and
// readers can look at them), the chunk semantics of the platform's multimedia files, a log of
// every call, and faults on request.
//
// The multimedia file is unbuffered: each call reaches the file at once, so a reader sees the
// bytes while the file is still open. Chunk calls behave as the platform's do:
//   - CreateChunk writes the id and cksize (with kCreateRiff the id "RIFF", cksize and the
//     form type fccType) at the position, sets dwDataOffset to the position after id and size
//     and marks the chunk as written, and leaves the position after the header;
//   - Ascend on a chunk made by CreateChunk: when the bytes since dwDataOffset differ from
//     cksize, it stores that number in cksize, writes a pad byte when it is odd and rewrites
//     the size field; then it moves to the end of the (padded) chunk;
//   - a short write inside a chunk call leaves the position where the call began and gives
//     kFileCannotWrite.
// Paths are UTF-8; non-ASCII names work on every platform.
//
// A SimFileSystem must outlive the files it opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"

namespace wendrix::sim {

class SimFileSystem : public FileSystem {
 public:
  // --- what the writer did, in order ---
  // "Create <path>" (or "Open <path>" for a file that was there), "Truncate", "Seek 0 0",
  // "CreateChunk RIFF 32", "CreateChunk fmt  0", "Write 18", "Ascend fmt ", "PatchLong 42 100",
  // "Seek 42 0", "Write 4", "Close", "Discard"; "Pause 50"; "OpenBinary <path>",
  // "WriteLongAt 42 100", "CloseBinary".
  // A call that fails by request or by the disk is logged with a "!" prefix.
  std::vector<std::string> calls;

  // --- faults ---
  // OpenOutputFile throws this error (naming the path is the caller's business).
  std::optional<Error> fail_create;
  // Another program holds every file being opened for output (a sharing violation,
  // FileHeld) until Pause has waited this many milliseconds in all; negative: for ever.
  std::optional<int32_t> held_for_ms;
  // The volume of the paths that begin with this went away: writes and size patches through
  // open files fail, Close still closes, and every opening fails "not connected" (VolumeGone).
  std::optional<std::string> gone_volume;
  // The multimedia file's Seek to this offset fails (-1).
  std::optional<int32_t> fail_seek_to;
  // OpenBinaryFile throws this error.
  std::optional<Error> fail_binary_open;
  // WriteLongAt throws this error.
  std::optional<Error> fail_binary_write;
  // The multimedia file's Close closes the file but returns kFileCannotClose.
  bool fail_close = false;
  // BinaryFile::Close closes the file and then throws this error.
  std::optional<Error> fail_binary_close;
  // Bytes the disk still takes. A write that would grow a file beyond it is cut short: it
  // writes what fits and returns that count, or -1 when nothing fits. Overwriting bytes inside
  // a file takes no space. Empty: unlimited.
  std::optional<uint64_t> free_space;
  // Called as a header is written (Truncate): a slow medium, for a test that moves its clock.
  std::function<void()> on_header;

  // A file that is there is opened as it is; one that is not is created.
  std::unique_ptr<MultimediaFile> OpenOutputFile(const std::string& path) override;
  // Waits no real time: adds to paused_ms.
  void Pause(int32_t milliseconds) override;
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path,
                                             const FileIdentity& same_as) override;
  // Whether `path` lies on the volume that went away.
  bool IsGone(const std::string& path) const;
  // Milliseconds Pause has waited in all.
  int64_t paused_ms = 0;
  // An absolute path stays as it is; a relative one is joined to the current directory.
  std::string FullPath(const std::string& path) override;

  // --- helpers for tests ---
  // The whole content of a file, or nullopt when it cannot be read.
  static std::optional<std::vector<uint8_t>> ReadAll(const std::string& path);
  // Writes a file with the given content (creating or replacing it); false on failure.
  static bool WriteAll(const std::string& path, const std::vector<uint8_t>& content);
};

// A fresh, empty directory under the system's temporary directory, removed with everything in
// it when the object goes. Its path is UTF-8.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace wendrix::sim
