// The file services of the WAVE writer: a multimedia (RIFF) file that is written front to
// back, and a plain binary file for the size patch at the end of a recording.
//
// The output file is opened as a file on a disk and nothing else: a device name, a pipe or a
// link at the name is refused. An existing file stays as it was until the writer empties it
// (once the recording device has started), and a file that a failed start created is removed
// through its own handle, never by name.
//
// Paths are UTF-8 inside the core; the Windows implementation opens them with the
// wide-character calls, so any Unicode name works.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"

namespace wendrix {

using FourCC = uint32_t;

// The four characters of `text` (padded with blanks) as a little-endian code, case unchanged.
constexpr FourCC StringToFourCC(const char (&text)[5]) {
  return static_cast<FourCC>(static_cast<uint8_t>(text[0])) |
         static_cast<FourCC>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<FourCC>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<FourCC>(static_cast<uint8_t>(text[3])) << 24;
}

// The platform's MMCKINFO: a chunk descriptor.
struct ChunkInfo {
  FourCC ckid = 0;
  uint32_t cksize = 0;
  FourCC fccType = 0;
  uint32_t dwDataOffset = 0;
  uint32_t dwFlags = 0;
};

inline constexpr uint32_t kCreateRiff = 0x20;  // MMIO_CREATERIFF
inline constexpr int32_t kSeekSet = 0;         // SEEK_SET
inline constexpr uint32_t kFileOk = 0;         // MMSYSERR_NOERROR
// Error results of the multimedia-file calls (the platform's MMSYSERR_/MMIOERR_ values).
inline constexpr uint32_t kFileInvalidHandle = 5;  // MMSYSERR_INVALHANDLE: the file is closed
inline constexpr uint32_t kFileCannotClose = 260;  // MMIOERR_CANNOTCLOSE
inline constexpr uint32_t kFileCannotWrite = 262;  // MMIOERR_CANNOTWRITE
inline constexpr uint32_t kFileCannotSeek = 263;   // MMIOERR_CANNOTSEEK

// Which file an open handle is: the volume's serial number and the file's id on it (up to 128
// bits), and where a volume gives a new file the id of a removed one, its creation time. Two
// openings with the same identity opened the same file.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t index_high = 0;
  int64_t created = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file is held by another program (a sharing violation): the same call may work a moment
// later.
class FileHeld : public Error {
 public:
  using Error::Error;
};

// The volume the file is on went away: a drive removed, a network share disconnected, a device
// not ready. The description names the path and the system's reason.
class VolumeGone : public Error {
 public:
  using Error::Error;
};

// An open multimedia file, unbuffered: every write reaches the file at once. The calls report
// problems through their results, as the platform's mmio functions do; none throws.
class MultimediaFile {
 public:
  virtual ~MultimediaFile() = default;  // closes the file if Close was not called

  // Whether the opening created the file (false: it opened one that was there).
  virtual bool Created() const = 0;
  // Which file this is (known from the opening on).
  virtual FileIdentity Identity() const = 0;
  // Empties the file and puts the position at 0. Returns kFileOk or an error code.
  virtual uint32_t Truncate() = 0;
  // Writes `value` little-endian at byte `offset` without moving the position; whatever the
  // file buffers reaches the system first. False when the file refused.
  virtual bool PatchLong(uint32_t offset, uint32_t value) = 0;
  // Removes the file through this open handle and closes it (never by name: whatever is at
  // the name by now is left alone). Later calls fail as after Close.
  virtual void Discard() = 0;

  // Moves the position; returns the new position or -1.
  virtual int32_t Seek(int32_t offset, int32_t origin) = 0;
  // Writes a chunk header at the position: the id and `cksize` (for kCreateRiff the id
  // "RIFF", the size and the form type fccType) and leaves the position at the chunk's data.
  // Fills dwDataOffset. Returns kFileOk or an error code.
  virtual uint32_t CreateChunk(ChunkInfo& chunk, uint32_t flags) = 0;
  // Writes the bytes at the position; returns the number written, or -1.
  virtual int32_t Write(const void* data, int32_t count) = 0;
  // Ascends out of a chunk made by CreateChunk: when the bytes written into it differ from
  // its cksize, rewrites the size field with that number; writes a pad byte when it is odd;
  // moves the position past the chunk. Returns kFileOk or an error code.
  virtual uint32_t Ascend(ChunkInfo& chunk, uint32_t flags) = 0;
  // Writes what is pending and closes; later calls fail. Returns kFileOk or an error code.
  virtual uint32_t Close() = 0;
};

// An open plain file for binary reading and writing (the size patch when the recording's own
// handle could not take the sizes).
class BinaryFile {
 public:
  virtual ~BinaryFile() = default;  // closes the file if Close was not called
  // Writes a 32-bit little-endian value at a 0-based byte offset; throws Error on failure.
  virtual void WriteLongAt(uint32_t offset, int32_t value) = 0;
  // Closes the file; throws Error on failure.
  virtual void Close() = 0;
};

// The open calls throw the run-time error a host's own file statements give for the cause:
// 76 "Path not found", 70 "Permission denied", 61 "Disk full", 75 "Path/File access error"
// for anything else; the description names the path.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens the output file for reading and writing: creates it when there is none, and opens
  // an existing file without changing it (MultimediaFile::Truncate empties it). Anything that
  // is not a plain file on a disk (a device, a pipe, a link at the name) is refused. Throws
  // Error naming the path when it cannot be opened: FileHeld while another program holds the
  // file, VolumeGone when its volume is not there.
  virtual std::unique_ptr<MultimediaFile> OpenOutputFile(const std::string& path) = 0;
  // Waits `milliseconds` before an opening is tried again.
  virtual void Pause(int32_t milliseconds) = 0;
  // Opens an existing file for binary reading and writing without truncating it; a missing
  // file is never created (Path not found). When the file at the name is not `same_as` (it
  // was replaced or moved meanwhile), throws Error 75 and writes nothing. A file another program
  // holds for a moment (a scanner, a sync client) is waited for a bounded time. Throws Error naming
  // the path when it cannot be opened (VolumeGone when its volume is not there).
  virtual std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path,
                                                     const FileIdentity& same_as) = 0;
  // The absolute form of `path`, resolved against the current directory now: a recording
  // keeps naming the same file when the host changes directory (file dialogs do). Throws
  // Error naming the path when it cannot be resolved.
  virtual std::string FullPath(const std::string& path) = 0;
};

}  // namespace wendrix
