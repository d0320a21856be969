#include "platform/sim/sim_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace wendrix::sim {
namespace {

// Set by CreateChunk on the chunks it wrote (the platform's MMIO_DIRTY).
constexpr uint32_t kChunkDirty = 0x10000000;
constexpr uint32_t kCreateList = 0x40;  // MMIO_CREATELIST

// --- the few calls of the C runtime we need, on POSIX and on Windows ---

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

#ifdef _WIN32
int OpenFd(const std::string& path, bool truncate, bool create = true, bool exclusive = false) {
  const int flags = _O_RDWR | _O_BINARY | (create ? _O_CREAT : 0) | (truncate ? _O_TRUNC : 0) |
                    (exclusive ? _O_EXCL : 0);
  return _wopen(PathOf(path).c_str(), flags, _S_IREAD | _S_IWRITE);
}
int64_t SeekFd(int fd, int64_t offset, int origin) { return _lseeki64(fd, offset, origin); }
int64_t WriteFd(int fd, const void* data, size_t count) {
  return _write(fd, data, static_cast<unsigned>(count));
}
int CloseFd(int fd) { return _close(fd); }
int64_t SizeFd(int fd) {
  struct _stati64 st;
  return _fstati64(fd, &st) == 0 ? st.st_size : -1;
}
bool TruncateFd(int fd) { return _chsize_s(fd, 0) == 0; }
FileIdentity IdentityFd(int fd) {
  struct _stati64 st;
  if (_fstati64(fd, &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}
#else
int OpenFd(const std::string& path, bool truncate, bool create = true, bool exclusive = false) {
  const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0) | (truncate ? O_TRUNC : 0) |
                    (exclusive ? O_EXCL : 0);
  return ::open(path.c_str(), flags, 0666);
}
int64_t SeekFd(int fd, int64_t offset, int origin) { return ::lseek(fd, offset, origin); }
int64_t WriteFd(int fd, const void* data, size_t count) { return ::write(fd, data, count); }
int CloseFd(int fd) { return ::close(fd); }
int64_t SizeFd(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}
bool TruncateFd(int fd) { return ::ftruncate(fd, 0) == 0; }
FileIdentity IdentityFd(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}
#endif

// The run-time error a host's file statements give for an errno.
Error OpenError(const char* verb, const std::string& path, int err) {
  int32_t number = errc::PathFileAccess;
  const char* what = "Path/File access error";
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      number = errc::PathNotFound;
      what = "Path not found";
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      number = errc::PermissionDenied;
      what = "Permission denied";
      break;
    case ENOSPC:
      number = errc::DiskFull;
      what = "Disk full";
      break;
    default:
      break;
  }
  return Error(number, std::string("Cannot ") + verb + " \"" + path + "\": " + what);
}

// The error of a file whose volume went away.
VolumeGone GoneError(const char* verb, const std::string& path) {
  return VolumeGone(errc::PathFileAccess, std::string("Cannot ") + verb + " \"" + path +
                                              "\": Path/File access error (the device is not "
                                              "connected)");
}

std::string FourCCText(FourCC code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return s;
}

// An open descriptor with the disk's free space applied to every write.
class Fd {
 public:
  Fd(int fd, SimFileSystem& fs) : fd_(fd), fs_(fs) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int64_t Position() { return SeekFd(fd_, 0, SEEK_CUR); }
  int64_t Seek(int64_t offset, int origin) { return SeekFd(fd_, offset, origin); }

  // Writes what the disk takes of `count` bytes at the position; returns the number written,
  // or -1 when nothing could be written.
  int64_t Write(const void* data, size_t count) {
    if (count == 0) return 0;
    size_t allowed = count;
    int64_t grow_from = 0;
    if (fs_.free_space) {
      const int64_t pos = Position();
      const int64_t size = SizeFd(fd_);
      if (pos < 0 || size < 0) return -1;
      grow_from = size;
      const int64_t end_limit = size + static_cast<int64_t>(*fs_.free_space);
      if (pos >= end_limit) {
        errno = ENOSPC;
        return -1;
      }
      allowed =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), end_limit - pos));
    }
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < allowed) {
      const int64_t n = WriteFd(fd_, p + done, allowed - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (fs_.free_space) {
      const int64_t end = Position();
      if (end > grow_from) *fs_.free_space -= static_cast<uint64_t>(end - grow_from);
    }
    if (done < count && allowed < count) errno = ENOSPC;
    return done == 0 ? -1 : static_cast<int64_t>(done);
  }

  // Closes the descriptor; false when the system reported a failure.
  bool Close() {
    if (fd_ < 0) return true;
    const int fd = std::exchange(fd_, -1);
    return CloseFd(fd) == 0;
  }

 private:
  int fd_;
  SimFileSystem& fs_;
};

class SimMultimediaFile : public MultimediaFile {
 public:
  SimMultimediaFile(int fd, std::string path, bool created, SimFileSystem& fs)
      : fd_(fd, fs),
        path_(std::move(path)),
        created_(created),
        identity_(IdentityFd(fd)),
        fs_(fs) {}
  ~SimMultimediaFile() override {
    if (fd_.open()) Log("Drop");
  }

  bool Created() const override { return created_; }
  FileIdentity Identity() const override { return identity_; }

  uint32_t Truncate() override {
    if (!fd_.open() || fs_.IsGone(path_) || !TruncateFd(fd_.fd()) || fd_.Seek(0, SEEK_SET) != 0)
      return Fail("Truncate", kFileCannotWrite);
    Log("Truncate");
    if (fs_.on_header) fs_.on_header();
    return kFileOk;
  }

  bool PatchLong(uint32_t offset, uint32_t value) override {
    const std::string line = "PatchLong " + std::to_string(offset) + " " + std::to_string(value);
    if (!fd_.open() || fs_.IsGone(path_)) return Fail(line, false);
    const int64_t position = fd_.Position();
    uint8_t field[4];
    PutLE(field, value);
    const bool written = fd_.Seek(offset, SEEK_SET) >= 0 && fd_.Write(field, 4) == 4;
    if (fd_.Seek(position, SEEK_SET) != position || !written) return Fail(line, false);
    Log(line);
    return true;
  }

  // The system here cannot remove a file through its descriptor; the name is the one it was
  // opened by, and tests do not move it.
  void Discard() override {
    if (!fd_.open()) return;
    if (!created_) TruncateFd(fd_.fd());
    fd_.Close();
    if (created_) {
      std::error_code ec;
      std::filesystem::remove(PathOf(path_), ec);
    }
    Log("Discard");
  }

  int32_t Seek(int32_t offset, int32_t origin) override {
    const std::string line = "Seek " + std::to_string(offset) + " " + std::to_string(origin);
    if (!fd_.open() || (fs_.fail_seek_to && *fs_.fail_seek_to == offset)) return Fail(line, -1);
    Log(line);
    const int64_t pos = fd_.Seek(offset, origin);
    return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
  }

  uint32_t CreateChunk(ChunkInfo& chunk, uint32_t flags) override {
    if (flags & kCreateRiff) chunk.ckid = StringToFourCC("RIFF");
    if (flags & kCreateList) chunk.ckid = StringToFourCC("LIST");
    const std::string line = "CreateChunk " + FourCCText(chunk.ckid) + " " + std::to_string(flags);
    if (!fd_.open()) return Fail(line, kFileInvalidHandle);
    if (fs_.IsGone(path_)) return Fail(line, kFileCannotWrite);
    const int64_t start = fd_.Position();
    if (start < 0) return Fail(line, kFileCannotSeek);

    uint8_t header[12];
    PutLE(header, chunk.ckid);
    PutLE(header + 4, chunk.cksize);
    PutLE(header + 8, chunk.fccType);
    const size_t size = (flags & (kCreateRiff | kCreateList)) ? 12 : 8;
    chunk.dwDataOffset = static_cast<uint32_t>(start + 8);
    chunk.dwFlags = kChunkDirty;
    if (fd_.Write(header, size) != static_cast<int64_t>(size)) {
      fd_.Seek(start, SEEK_SET);
      return Fail(line, kFileCannotWrite);
    }
    Log(line);
    return kFileOk;
  }

  int32_t Write(const void* data, int32_t count) override {
    const std::string line = "Write " + std::to_string(count);
    if (!fd_.open() || count < 0 || fs_.IsGone(path_)) return Fail(line, -1);
    const int64_t n = fd_.Write(data, static_cast<size_t>(count));
    Log(n == count ? line : "!" + line);
    return static_cast<int32_t>(n);
  }

  uint32_t Ascend(ChunkInfo& chunk, uint32_t) override {
    const std::string line = "Ascend " + FourCCText(chunk.ckid);
    if (!fd_.open()) return Fail(line, kFileInvalidHandle);
    if (chunk.dwFlags & kChunkDirty) {
      const int64_t end = fd_.Position();
      if (end < 0) return Fail(line, kFileCannotSeek);
      const auto size = static_cast<uint32_t>(end - chunk.dwDataOffset);
      if (size != chunk.cksize) {
        chunk.cksize = size;
        if (size & 1) {
          const uint8_t pad = 0;
          if (fd_.Write(&pad, 1) != 1) return Fail(line, kFileCannotWrite);
        }
        uint8_t field[4];
        PutLE(field, size);
        if (fd_.Seek(chunk.dwDataOffset - 4, SEEK_SET) < 0) return Fail(line, kFileCannotSeek);
        if (fd_.Write(field, 4) != 4) return Fail(line, kFileCannotWrite);
      }
      chunk.dwFlags = 0;
    }
    if (fd_.Seek(chunk.dwDataOffset + ((int64_t{chunk.cksize} + 1) & ~int64_t{1}), SEEK_SET) < 0) {
      return Fail(line, kFileCannotSeek);
    }
    Log(line);
    return kFileOk;
  }

  uint32_t Close() override {
    if (!fd_.open()) return Fail("Close", kFileInvalidHandle);
    const bool closed = fd_.Close();
    if (!closed || fs_.fail_close) return Fail("Close", kFileCannotClose);
    Log("Close");
    return kFileOk;
  }

 private:
  static void PutLE(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void Log(const std::string& line) { fs_.calls.push_back(line); }
  template <typename R>
  R Fail(const std::string& line, R result) {
    Log("!" + line);
    return result;
  }

  Fd fd_;
  std::string path_;
  bool created_;
  FileIdentity identity_;
  SimFileSystem& fs_;
};

class SimBinaryFile : public BinaryFile {
 public:
  SimBinaryFile(int fd, std::string path, SimFileSystem& fs)
      : fd_(fd, fs), path_(std::move(path)), fs_(fs) {}

  void WriteLongAt(uint32_t offset, int32_t value) override {
    const std::string line = "WriteLongAt " + std::to_string(offset) + " " + std::to_string(value);
    if (fs_.fail_binary_write) Throw(line, *fs_.fail_binary_write);
    if (!fd_.open()) Throw(line, Error(errc::PathFileAccess, "The file is closed"));
    if (fs_.IsGone(path_)) Throw(line, GoneError("write to", path_));
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
      bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    if (fd_.Seek(offset, SEEK_SET) < 0 || fd_.Write(bytes, 4) != 4) {
      const int err = errno;
      Throw(line, OpenError("write to", path_, err));
    }
    fs_.calls.push_back(line);
  }

  void Close() override {
    if (!fd_.open()) Throw("CloseBinary", Error(errc::PathFileAccess, "The file is closed"));
    const bool closed = fd_.Close();
    if (fs_.fail_binary_close) Throw("CloseBinary", *fs_.fail_binary_close);
    if (!closed) Throw("CloseBinary", OpenError("close", path_, errno));
    fs_.calls.push_back("CloseBinary");
  }

 private:
  [[noreturn]] void Throw(const std::string& line, const Error& error) {
    fs_.calls.push_back("!" + line);
    throw error;
  }

  Fd fd_;
  std::string path_;
  SimFileSystem& fs_;
};

}  // namespace

std::unique_ptr<MultimediaFile> SimFileSystem::OpenOutputFile(const std::string& path) {
  if (fail_create) {
    calls.push_back("!Create " + path);
    throw *fail_create;
  }
  if (IsGone(path)) {
    calls.push_back("!Create " + path);
    throw GoneError("create", path);
  }
  if (held_for_ms && (*held_for_ms < 0 || paused_ms < *held_for_ms)) {
    calls.push_back("!Create " + path);
    throw FileHeld(errc::PermissionDenied, "Cannot create \"" + path +
                                               "\": Permission denied (another program has the "
                                               "file open)");
  }
  bool created = true;
  int fd = OpenFd(path, /*truncate=*/false, /*create=*/true, /*exclusive=*/true);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = OpenFd(path, /*truncate=*/false, /*create=*/false);
  }
  if (fd < 0) {
    const int err = errno;
    calls.push_back("!Create " + path);
    throw OpenError("create", path, err);
  }
  calls.push_back((created ? "Create " : "Open ") + path);
  return std::make_unique<SimMultimediaFile>(fd, path, created, *this);
}

void SimFileSystem::Pause(int32_t milliseconds) {
  paused_ms += milliseconds;
  calls.push_back("Pause " + std::to_string(milliseconds));
}

bool SimFileSystem::IsGone(const std::string& path) const {
  return gone_volume && path.starts_with(*gone_volume);
}

std::unique_ptr<BinaryFile> SimFileSystem::OpenBinaryFile(const std::string& path,
                                                          const FileIdentity& same_as) {
  if (fail_binary_open) {
    calls.push_back("!OpenBinary " + path);
    throw *fail_binary_open;
  }
  if (IsGone(path)) {
    calls.push_back("!OpenBinary " + path);
    throw GoneError("open", path);
  }
  const int fd = OpenFd(path, /*truncate=*/false, /*create=*/false);
  if (fd < 0) {
    const int err = errno;
    calls.push_back("!OpenBinary " + path);
    throw OpenError("open", path, err);
  }
  if (same_as != FileIdentity{} && IdentityFd(fd) != same_as) {
    CloseFd(fd);
    calls.push_back("!OpenBinary " + path);
    throw Error(errc::PathFileAccess, "Cannot open \"" + path + "\": another file has its name");
  }
  calls.push_back("OpenBinary " + path);
  return std::make_unique<SimBinaryFile>(fd, path, *this);
}

std::string SimFileSystem::FullPath(const std::string& path) {
  const std::filesystem::path given = PathOf(path);
  if (given.is_absolute()) return path;
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::current_path(ec);
  if (ec) throw OpenError("create", path, ec.value());
  return Utf8Of(base / given);
}

std::optional<std::vector<uint8_t>> SimFileSystem::ReadAll(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(PathOf(path), ec);
  if (ec) return std::nullopt;
#ifdef _WIN32
  const int fd = _wopen(PathOf(path).c_str(), _O_RDONLY | _O_BINARY);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> out(size);
  size_t done = 0;
  while (done < out.size()) {
#ifdef _WIN32
    const int n = _read(fd, out.data() + done, static_cast<unsigned>(out.size() - done));
#else
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
#endif
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  CloseFd(fd);
  out.resize(done);
  return out;
}

bool SimFileSystem::WriteAll(const std::string& path, const std::vector<uint8_t>& content) {
  const int fd = OpenFd(path, /*truncate=*/true);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    const int64_t n = WriteFd(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return CloseFd(fd) == 0 && done == content.size();
}

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (;;) {
    const auto dir = base / ("wendrix-test-" + std::to_string(random() % 1000000000));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) {
      path_ = Utf8Of(dir);
      return;
    }
    if (ec)
      throw Error(errc::PathFileAccess, "Cannot create a temporary directory: " + ec.message());
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(PathOf(path_), ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

}  // namespace wendrix::sim
