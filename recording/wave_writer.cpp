// The WAVE file of a recording: a 46-byte header written when the recording starts, the
// drain's appends, and the two sizes patched in when it stops.
//
//   0 "RIFF"  4 RIFF size  8 "WAVE"  12 "fmt "  16 18  20 the 18-byte format (cbSize 0)
//   38 "data"  42 data size  46 the recorded bytes
//
// Both sizes start at 0 and follow the audio on disk while the recording runs (at most a
// quarter of a second behind), so a host that dies mid-take still leaves a file players open;
// the stop writes them as before. No pad byte follows an odd data size.
#include <cstdint>
#include <string>
#include <utility>

#include "control/control.h"
#include "platform/error.h"
#include "platform/stage_clock.h"
#include "platform/wave_format.h"
#include "recording/ring.h"

namespace wendrix {
namespace {

[[noreturn]] void HeaderFailure(const std::string& path, const std::string& what) {
  throw Error(errc::PathFileAccess, "Cannot write the header of \"" + path + "\": " + what);
}

// Writes `value` little-endian at `offset` of the open file; false when the file refused.
bool PatchLong(MultimediaFile& file, int32_t offset, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return file.Seek(offset, kSeekSet) == offset && file.Write(bytes, 4) == 4;
}

// A file another program holds (an indexer, a scanner, a sync client, a preview that took the
// last take as soon as it was closed) is tried again for this long: a quarter of a second. The
// wait holds the host's thread, and with it the ticks of every other control of the process: a
// control with the default ring (1 s, read every half second) keeps all its audio through it,
// and an on-access scan of a just-closed take takes tens of milliseconds.
constexpr int32_t kHeldRetryMs = 50;
constexpr int kHeldTries = 6;

// The header's sizes are brought up to date no oftener than this.
constexpr int64_t kHeaderUpdateMicroseconds = 250000;

}  // namespace

// Opens the output file without changing a file that is there; FileCreated tells whether this
// start made it. Throws, with nothing open, when it cannot be opened.
void Control::OpenWaveFile() {
  s_.FileHandle.reset();
  for (int tries = 1;; ++tries) {
    try {
      s_.FileHandle = p_.files.OpenOutputFile(s_.OutputFileName);
      break;
    } catch (const FileHeld&) {
      if (tries >= kHeldTries) throw;
    }
    p_.files.Pause(kHeldRetryMs);
  }
  s_.FileCreated = s_.FileHandle->Created() ? True : False;
}

void Control::DropWaveFile() {
  auto file = std::exchange(s_.FileHandle, nullptr);
  if (file && s_.FileCreated != False) file->Discard();
  s_.FileCreated = False;
}

// Empties the output file (opening it first when it is not open) and writes the RIFF header
// and the "fmt " chunk, leaving the file at offset 38. Unlike the multimedia file calls it is
// built on, it does not let a failure pass unnoticed: a header call that fails throws, with
// the file dropped, so that the start can fail instead of recording into nothing.
void Control::WriteWaveHeader() {
  s_.FileFormat.wFormatTag = s_.DeviceFormat.wFormatTag;
  s_.FileFormat.nChannels = s_.DeviceFormat.nChannels;
  s_.FileFormat.nSamplesPerSec = s_.DeviceFormat.nSamplesPerSec;
  s_.FileFormat.nAvgBytesPerSec = s_.DeviceFormat.nAvgBytesPerSec;
  s_.FileFormat.nBlockAlign = s_.DeviceFormat.nBlockAlign;
  s_.FileFormat.wBitsPerSample = s_.DeviceFormat.wBitsPerSample;

  if (!s_.FileHandle) OpenWaveFile();
  MultimediaFile& file = *s_.FileHandle;
  try {
    // From here on the file holds this recording and nothing of what was there before.
    s_.FileCreated = True;
    const uint32_t emptied = file.Truncate();
    s_.LastFileResult = Variant::Long(static_cast<int32_t>(emptied));
    if (emptied != kFileOk) HeaderFailure(s_.OutputFileName, "the file cannot be emptied");
    const int32_t position = file.Seek(0, kSeekSet);
    s_.LastFileResult = Variant::Long(position);
    if (position != 0) HeaderFailure(s_.OutputFileName, "mmioSeek failed");

    s_.RiffChunk.fccType = StringToFourCC("WAVE");
    s_.RiffChunk.cksize = 0;
    uint32_t result = file.CreateChunk(s_.RiffChunk, kCreateRiff);
    s_.LastFileResult = Variant::Long(static_cast<int32_t>(result));
    if (result != kFileOk) HeaderFailure(s_.OutputFileName, "mmioCreateChunk RIFF failed");

    // Created with size 0: the ascend below writes the true size, 18.
    s_.SubChunk.ckid = StringToFourCC("fmt ");
    s_.SubChunk.cksize = 0;
    result = file.CreateChunk(s_.SubChunk, 0);
    s_.LastFileResult = Variant::Long(static_cast<int32_t>(result));
    if (result != kFileOk) HeaderFailure(s_.OutputFileName, "mmioCreateChunk fmt failed");

    const auto format = SerializeWaveFormat(s_.FileFormat);
    const int32_t written = file.Write(format.data(), static_cast<int32_t>(format.size()));
    s_.LastFileResult = Variant::Long(written);
    if (written != static_cast<int32_t>(format.size())) {
      HeaderFailure(s_.OutputFileName, "mmioWrite wrote " + std::to_string(written) + " of " +
                                           std::to_string(format.size()) + " bytes");
    }

    result = file.Ascend(s_.SubChunk, 0);
    s_.LastFileResult = Variant::Long(static_cast<int32_t>(result));
    if (result != kFileOk) HeaderFailure(s_.OutputFileName, "mmioAscend fmt failed");
  } catch (...) {
    DropWaveFile();
    throw;
  }
}

// Writes the "data" chunk's header; the file then stands at offset 46, where the drain
// appends. Throws, with the file dropped, when the header cannot be written.
void Control::CreateDataChunk() {
  if (!s_.FileHandle) HeaderFailure(s_.OutputFileName, "the file is not open");
  s_.SubChunk.ckid = StringToFourCC("data");
  s_.SubChunk.cksize = 0;
  const uint32_t result = s_.FileHandle->CreateChunk(s_.SubChunk, 0);
  s_.LastFileResult = Variant::Long(static_cast<int32_t>(result));
  if (result != kFileOk) {
    DropWaveFile();
    HeaderFailure(s_.OutputFileName, "mmioCreateChunk data failed");
  }
  s_.HeaderBytes = 0;
  s_.HeaderTime = p_.capture.NowMicroseconds();
}

void Control::KeepHeaderCurrent() {
  if (s_.FileNeedsFinish == False || !s_.FileHandle || s_.HeaderBytes == s_.BytesRecorded) return;
  const int64_t now = p_.capture.NowMicroseconds();
  if (now - s_.HeaderTime < kHeaderUpdateMicroseconds) return;
  profile::Scope header(profile::kHeader);
  s_.HeaderTime = now;
  // The same two values the stop writes, through the recording's own handle. A file that
  // refuses them (a volume gone) is left to the stop, which reports it.
  const int32_t bytes = s_.BytesRecorded;
  MultimediaFile& file = *s_.FileHandle;
  if (file.PatchLong(42, static_cast<uint32_t>(bytes)) &&
      (bytes > kMaxDataBytes || file.PatchLong(4, static_cast<uint32_t>(bytes) + 38))) {
    s_.HeaderBytes = bytes;
  }
}

// Writes the data size (offset 42) and the RIFF size (offset 4) through the recording's own
// handle, then closes it. While that handle is open no other program can open the file for
// itself alone (the file is shared for reading only), so a scanner or sync client that takes
// the file as soon as it is closed cannot keep the sizes out. Only when the handle refuses is
// the file opened a second time, by its absolute name, never creating one.
// A data size above kMaxDataBytes fails with error 6 after offset 42 was written; a failing
// close of the recording's handle (every byte was already written, unbuffered) is reported
// after the sizes are in.
void Control::FinishWaveFile() {
  const bool overflow = s_.BytesRecorded > kMaxDataBytes;
  bool patched = false;
  uint32_t close_result = kFileOk;
  FileIdentity identity;
  if (s_.FileHandle) {
    MultimediaFile& file = *s_.FileHandle;
    identity = file.Identity();
    patched = PatchLong(file, 42, s_.BytesRecorded) &&
              (overflow || PatchLong(file, 4, s_.BytesRecorded + 38));
    close_result = file.Close();
    s_.LastFileResult = Variant::Long(static_cast<int32_t>(close_result));
    s_.FileHandle.reset();
  }
  if (!patched) {
    auto file = p_.files.OpenBinaryFile(s_.OutputFileName, identity);
    file->WriteLongAt(42, s_.BytesRecorded);
    if (overflow) throw Error(errc::Overflow);
    file->WriteLongAt(4, s_.BytesRecorded + 38);
    file->Close();
  }
  if (overflow) throw Error(errc::Overflow);
  if (close_result != kFileOk) {
    throw Error(errc::PathFileAccess, "Cannot close \"" + s_.OutputFileName +
                                          "\": mmioClose failed with " +
                                          std::to_string(close_result));
  }
}

}  // namespace wendrix
