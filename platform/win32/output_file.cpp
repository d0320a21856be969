#include "platform/win32/output_file.h"

#include <algorithm>
#include <utility>

#include "platform/win32/file_identity.h"
#include "platform/win32/folder_file.h"
#include "platform/win32/full_path.h"
#include "platform/win32/name_form.h"
#include "platform/win32/native_write.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {
namespace {

constexpr uint32_t kChunkDirty = 0x10000000;  // MMIO_DIRTY: the chunk was written by CreateChunk
constexpr uint32_t kCreateList = 0x40;        // MMIO_CREATELIST

void PutLE(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr char kLinkRefusal[] =
    "the name is a link (a symbolic link or junction) to another place, which is not followed; "
    "give the name of the file itself";

[[noreturn]] void Refuse(const std::string& path, const char* why) {
  throw FileError("create", path, ERROR_SUCCESS, why);
}

// Why the opened name is not a plain file on a disk, or nullptr; fills `info`.
const char* NotADiskFile(HANDLE file, HANDLE folder, const std::wstring& name,
                         BY_HANDLE_FILE_INFORMATION& info) {
  if (GetFileType(file) != FILE_TYPE_DISK) {
    return "the name is a device or a pipe, not a file on a disk; give the name of a file in a "
           "folder";
  }
  if (!GetFileInformationByHandle(file, &info)) {
    return "the name does not lead to a file on a disk; give the name of a file in a folder";
  }
  bool link = !IsNamedInFolder(file, folder, name);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // Only a reparse point that stands for another name (a symbolic link, a junction, a mount
    // point) is a link; a cloud file, a deduplicated or a compressed one carries one of its
    // filter's own and is an ordinary file (see ReopenThroughFilter).
    FILE_ATTRIBUTE_TAG_INFO tag{};
    link = link || !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsReparseTagNameSurrogate(tag.ReparseTag);
  }
  if (link) return kLinkRefusal;
  return nullptr;
}

// A file behind a reparse point of a file system filter (a OneDrive file, a deduplicated or a
// compressed one) is written through that filter: once the handle that opened the reparse point
// itself is closed (shared for reading only, it would refuse the second opening), the name is
// opened again the ordinary way, and taken only if that reached the same file and what it
// reached stands for no other name (a link put at the name meanwhile is followed by the second
// opening). Throws the opening's error, or refuses what it reached.
UniqueFile ReopenThroughFilter(UniqueFile first, const std::wstring& wide, const std::string& path,
                               const FileIdentity& identity) {
  first.reset();
  UniqueFile file(CreateFileW(
      wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file) ThrowFileError("create", path, GetLastError());
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || IdentityOf(file.get()) != identity ||
      !GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
       IsReparseTagNameSurrogate(tag.ReparseTag))) {
    Refuse(path, kLinkRefusal);
  }
  return file;
}

}  // namespace

OutputFile::OutputFile(UniqueFile file, bool created, FileIdentity identity)
    : file_(std::move(file)), created_(created), identity_(identity) {
  take_ = OpenTake::Claim(file_.get(), identity_);
}

OutputFile::~OutputFile() { Forget(); }

void OutputFile::Forget() {
  if (take_) std::exchange(take_, nullptr)->Release();
}

std::unique_ptr<MultimediaFile> OutputFile::Open(const std::string& path) {
  const std::wstring wide = FileNameWide("create", path);
  // The name as Windows itself reads it (a trailing "." or " " dropped, "NUL" as \\.\NUL), so
  // that its form can be judged before anything is opened and the file compared with it after.
  DWORD error = ERROR_SUCCESS;
  const std::wstring full = FullPathWide(wide, error);
  if (full.empty()) ThrowFileError("create", path, error);
  if (const char* why = NameFormRefusal(full)) Refuse(path, why);
  const size_t slash = full.find_last_of(L"\\/");
  const std::wstring name = full.substr(slash + 1);
  if (name.empty()) ThrowFileError("create", path, ERROR_ACCESS_DENIED);  // a folder
  const UniqueFile folder = OpenFolder(ExtendedLengthPath(full.substr(0, slash + 1)), error);
  if (!folder) ThrowFileError("create", path, error);

  // An existing file is opened as it is: it is emptied only once the recording device has
  // started, so a start that fails before leaves it untouched. Only a file made here shares
  // deletion, so that it can be removed through this handle.
  UniqueFile file;
  bool created = false;
  for (int round = 0; round < 3 && !file; ++round) {
    file = OpenInFolder(folder.get(), name, FILE_SHARE_READ, OPEN_EXISTING, error);
    if (file) break;
    if (error == ERROR_FILE_NOT_FOUND) {
      file =
          OpenInFolder(folder.get(), name, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, error);
      if (file) {
        created = true;
        break;
      }
      if (error == ERROR_FILE_EXISTS) continue;  // made meanwhile: open it as it is
    }
    // Another control of this program recording into the file: no wait ends that, and one
    // would hold the host's thread, and with it that recording's own ticks.
    if (error == ERROR_SHARING_VIOLATION) {
      const UniqueFile look = LookAtInFolder(folder.get(), name);
      if (look && OpenTake::Holds(IdentityOf(look.get()))) {
        ThrowFileError("create", path, ERROR_ACCESS_DENIED,
                       "another recording of this program is writing that file; give another name");
      }
    }
    const std::string why = CreateRefusal(full, error);
    // A creation refused in a folder that exists is a refusal, whatever the code said.
    if (!why.empty()) error = ERROR_ACCESS_DENIED;
    ThrowFileError("create", path, error, why.empty() ? nullptr : why.c_str());
  }
  if (!file) ThrowFileError("create", path, ERROR_FILE_EXISTS);

  // Nothing has been written yet: what is not a plain file on a disk is let go unchanged (and
  // one made here goes again).
  BY_HANDLE_FILE_INFORMATION info{};
  if (const char* why = NotADiskFile(file.get(), folder.get(), name, info)) {
    if (created) LetGoOfCreated(file.get(), DeletesByName());
    Refuse(path, why);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ThrowFileError("create", path, ERROR_ACCESS_DENIED);
  }
  const FileIdentity identity = IdentityOf(file.get());
  if (!created && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    file = ReopenThroughFilter(std::move(file), wide, path, identity);
  }
  if (!created && (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
    // As CREATE_ALWAYS would: a hidden or system file is not replaced.
    const std::string why = CreateRefusal(wide, ERROR_ACCESS_DENIED);
    ThrowFileError("create", path, ERROR_ACCESS_DENIED, why.empty() ? nullptr : why.c_str());
  }
  auto* out = new OutputFile(std::move(file), created, identity);
  LARGE_INTEGER size{};
  if (GetFileSizeEx(out->file_.get(), &size)) out->end_ = size.QuadPart;
  return std::unique_ptr<MultimediaFile>(out);
}

int64_t OutputFile::WriteAt(int64_t offset, const void* data, uint32_t count) {
  if (!file_ || offset < 0) return -1;
  if (count == 0) return 0;
  // The offset given with the write itself, so the file's own position is never relied on; and
  // no completion context, which WriteFile makes of an OVERLAPPED: Wine posts a completion for
  // it to its server after every write, a round trip three times per drain.
  LARGE_INTEGER at{};
  at.QuadPart = offset;
  IO_STATUS_BLOCK status{};
  if (!NT_SUCCESS(NtWriteFile(file_.get(), nullptr, nullptr, nullptr, &status, data, count, &at,
                              nullptr))) {
    return -1;
  }
  const auto written = static_cast<int64_t>(std::min<ULONG_PTR>(status.Information, count));
  if (offset + written > end_) {
    end_ = offset + written;
    if (take_) take_->SetEnd(end_);
  }
  return written;
}

uint32_t OutputFile::Truncate() {
  if (!file_) return kFileInvalidHandle;
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) {
    return kFileCannotWrite;
  }
  position_ = 0;
  end_ = 0;
  if (take_) {
    take_->SetRiff(0);
    take_->SetOpenChunk(0);
    take_->SetEnd(0);
  }
  return kFileOk;
}

bool OutputFile::PatchLong(uint32_t offset, uint32_t value) {
  // Nothing is buffered here: every write has reached the system already.
  uint8_t bytes[4];
  PutLE(bytes, value);
  return WriteAt(offset, bytes, 4) == 4;
}

void OutputFile::Discard() {
  if (!file_) return;
  Forget();
  if (created_) {
    LetGoOfCreated(file_.get(), DeletesByName());
  } else {
    // A file that was there was emptied by this recording; it is left empty, not half-written.
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN)) SetEndOfFile(file_.get());
  }
  file_.reset();
}

int32_t OutputFile::Seek(int32_t offset, int32_t origin) {
  if (!file_) return -1;
  int64_t base = 0;
  if (origin == SEEK_CUR) {
    base = position_;
  } else if (origin == SEEK_END) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size)) return -1;
    base = size.QuadPart;
  } else if (origin != SEEK_SET) {
    return -1;
  }
  const int64_t to = base + offset;
  if (to < 0 || to > INT32_MAX) return -1;
  position_ = to;
  return static_cast<int32_t>(to);
}

uint32_t OutputFile::CreateChunk(ChunkInfo& chunk, uint32_t flags) {
  if (!file_) return kFileInvalidHandle;
  const bool list = (flags & (kCreateRiff | kCreateList)) != 0;
  if (flags & kCreateRiff) chunk.ckid = StringToFourCC("RIFF");
  if (flags & kCreateList) chunk.ckid = StringToFourCC("LIST");
  uint8_t header[12];
  PutLE(header, chunk.ckid);
  PutLE(header + 4, chunk.cksize);
  PutLE(header + 8, chunk.fccType);
  const uint32_t size = list ? 12 : 8;
  chunk.dwDataOffset = static_cast<uint32_t>(position_ + 8);
  chunk.dwFlags = kChunkDirty;
  // A short write leaves the position where the call began.
  if (WriteAt(position_, header, size) != size) return kFileCannotWrite;
  position_ += size;
  if (take_) {
    if (flags & kCreateRiff) {
      take_->SetRiff(chunk.dwDataOffset);
    } else if (!list) {
      take_->SetOpenChunk(chunk.dwDataOffset);
    }
  }
  return kFileOk;
}

int32_t OutputFile::Write(const void* data, int32_t count) {
  if (!file_ || count < 0) return -1;
  const int64_t n = WriteAt(position_, data, static_cast<uint32_t>(count));
  if (n < 0) return -1;
  position_ += n;
  return static_cast<int32_t>(n);
}

uint32_t OutputFile::Ascend(ChunkInfo& chunk, uint32_t) {
  if (!file_) return kFileInvalidHandle;
  if (chunk.dwFlags & kChunkDirty) {
    const auto size = static_cast<uint32_t>(position_ - chunk.dwDataOffset);
    if (size != chunk.cksize) {
      chunk.cksize = size;
      if (size & 1) {
        const uint8_t pad = 0;
        if (WriteAt(position_, &pad, 1) != 1) return kFileCannotWrite;
        ++position_;
      }
      if (!PatchLong(chunk.dwDataOffset - 4, size)) return kFileCannotWrite;
    }
    chunk.dwFlags = 0;
    if (take_ && chunk.ckid != StringToFourCC("RIFF")) take_->SetOpenChunk(0);
  }
  position_ = chunk.dwDataOffset + ((int64_t{chunk.cksize} + 1) & ~int64_t{1});
  return kFileOk;
}

uint32_t OutputFile::Close() {
  if (!file_) return kFileInvalidHandle;
  Forget();
  return file_.reset() ? kFileOk : kFileCannotClose;
}

}  // namespace wendrix::win32
