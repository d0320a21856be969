#include "platform/win32/mmio_file.h"

#include <utility>

#include "platform/win32/system_error.h"
#include "platform/win32/text.h"

namespace wendrix::win32 {
namespace {

MMCKINFO ToMmck(const ChunkInfo& c) {
  MMCKINFO m{};
  m.ckid = c.ckid;
  m.cksize = c.cksize;
  m.fccType = c.fccType;
  m.dwDataOffset = c.dwDataOffset;
  m.dwFlags = c.dwFlags;
  return m;
}

void FromMmck(const MMCKINFO& m, ChunkInfo& c) {
  c.ckid = m.ckid;
  c.cksize = m.cksize;
  c.fccType = m.fccType;
  c.dwDataOffset = m.dwDataOffset;
  c.dwFlags = m.dwFlags;
}

}  // namespace

MmioFile::MmioFile(UniqueMmio file) : file_(std::move(file)) {}

std::unique_ptr<MultimediaFile> MmioFile::Create(const std::string& path) {
  // mmioOpenW narrows its file name to the ANSI code page on some systems (Wine among them),
  // which loses every character outside it. So the file is created here with its wide name,
  // and mmio works on that handle: a null name with the handle in adwInfo[0] makes the
  // standard DOS I/O procedure take the open file, and mmioClose closes it.
  const std::wstring wide = FileNameWide("create", path);
  UniqueFile file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    const std::string why = ReplaceRefusal(wide, error);
    throw FileError("create", path, error, why.empty() ? nullptr : why.c_str());
  }

  MMIOINFO info{};
  // File handles carry 32 significant bits, also in a 64-bit process.
  info.adwInfo[0] = static_cast<DWORD>(reinterpret_cast<uintptr_t>(file.get()));
  // No I/O buffer (no MMIO_ALLOCBUF, cchBuffer 0): unbuffered.
  HMMIO mmio = mmioOpenW(nullptr, &info, MMIO_READWRITE);
  if (!mmio) throw FileError("create", path, ERROR_OPEN_FAILED);
  file.release();  // the multimedia file owns it now
  return std::unique_ptr<MultimediaFile>(new MmioFile(UniqueMmio(mmio)));
}

int32_t MmioFile::Seek(int32_t offset, int32_t origin) {
  if (!file_) return -1;
  return mmioSeek(file_.get(), offset, origin);
}

uint32_t MmioFile::CreateChunk(ChunkInfo& chunk, uint32_t flags) {
  if (!file_) return kFileInvalidHandle;
  MMCKINFO m = ToMmck(chunk);
  const MMRESULT result = mmioCreateChunk(file_.get(), &m, flags);
  FromMmck(m, chunk);
  return result;
}

int32_t MmioFile::Write(const void* data, int32_t count) {
  if (!file_) return -1;
  return mmioWrite(file_.get(), static_cast<const char*>(data), count);
}

uint32_t MmioFile::Ascend(ChunkInfo& chunk, uint32_t flags) {
  if (!file_) return kFileInvalidHandle;
  MMCKINFO m = ToMmck(chunk);
  const MMRESULT result = mmioAscend(file_.get(), &m, flags);
  FromMmck(m, chunk);
  return result;
}

uint32_t MmioFile::Close() {
  if (!file_) return kFileInvalidHandle;
  const MMRESULT result = mmioClose(file_.release(), 0);
  return result;
}

}  // namespace wendrix::win32
