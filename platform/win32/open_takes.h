// The output files of this process's running recordings, for the one moment no one releases
// them: the process ends (ExitProcess, a host's `End`, a .NET program leaving without a
// release). The module's DllMain then writes the RIFF and data sizes of every open take, so
// that it is a WAVE file players open, sizes and length in agreement.
//
// A slot holds the handle and the chunk offsets; the end of what was written is kept current
// with atomics by the file that owns the slot. The exit walk uses plain kernel32 calls only:
// at that moment other threads have been ended wherever they stood (a lock may be held for
// ever) and no library may be loaded.
//
// The table also tells a start whether the file it was refused is one of these takes (another
// control of the process records into it), which no wait would end.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <atomic>
#include <cstdint>

#include "platform/files.h"

namespace wendrix::win32 {

class OpenTake {
 public:
  // Takes a free slot for `file`, which is the file `identity`; nullptr when every slot is taken
  // (that take is then only kept current by the recording's own updates).
  static OpenTake* Claim(HANDLE file, const FileIdentity& identity);
  // Whether a take of this process has the file `identity` open.
  static bool Holds(const FileIdentity& identity);
  // Gives the slot back; the exit walk no longer touches the file.
  void Release();

  // The RIFF chunk's data begins at `riff_data` (its size field 4 bytes before); 0: none yet.
  void SetRiff(uint32_t riff_data) { riff_data_.store(riff_data, std::memory_order_release); }
  // The chunk being appended to begins at `data` (0: none); it runs to the end of the file.
  void SetOpenChunk(uint32_t data) { open_data_.store(data, std::memory_order_release); }
  // The end of what was written, in bytes from the start of the file.
  void SetEnd(int64_t end) { end_.store(end, std::memory_order_release); }

  // Writes the sizes of every claimed take whose chunk is open, from the end of its file.
  static void WriteSizesAtExit() noexcept;

 private:
  std::atomic<HANDLE> file_{nullptr};
  std::atomic<uint32_t> riff_data_{0};
  std::atomic<uint32_t> open_data_{0};
  std::atomic<int64_t> end_{0};
  FileIdentity identity_;  // under the table's lock, which the exit walk never takes
};

}  // namespace wendrix::win32
