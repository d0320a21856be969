#include "platform/win32/open_takes.h"

#include <iterator>
#include <mutex>

namespace wendrix::win32 {
namespace {

// The exit walk may take no lock, also none hidden in an atomic.
static_assert(std::atomic<HANDLE>::is_always_lock_free &&
              std::atomic<int64_t>::is_always_lock_free &&
              std::atomic<uint32_t>::is_always_lock_free);

// More recordings than a process ever runs at once (one per control).
OpenTake g_takes[64];
std::mutex g_identities;

// Writes `value` little-endian at `offset`, leaving the file position alone (an OVERLAPPED
// offset on a synchronous handle).
void WriteLongAt(HANDLE file, uint32_t offset, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  OVERLAPPED at{};
  at.Offset = offset;
  DWORD written = 0;
  WriteFile(file, bytes, sizeof bytes, &written, &at);
}

}  // namespace

OpenTake* OpenTake::Claim(HANDLE file, const FileIdentity& identity) {
  for (OpenTake& take : g_takes) {
    HANDLE none = nullptr;
    if (!take.file_.compare_exchange_strong(none, INVALID_HANDLE_VALUE)) continue;
    take.riff_data_.store(0);
    take.open_data_.store(0);
    take.end_.store(0);
    const std::lock_guard<std::mutex> hold(g_identities);
    take.identity_ = identity;
    take.file_.store(file, std::memory_order_release);
    return &take;
  }
  return nullptr;
}

void OpenTake::Release() {
  const std::lock_guard<std::mutex> hold(g_identities);
  file_.store(nullptr, std::memory_order_release);
}

bool OpenTake::Holds(const FileIdentity& identity) {
  if (identity == FileIdentity{}) return false;
  const std::lock_guard<std::mutex> hold(g_identities);
  bool held = false;
  for (const OpenTake& take : g_takes) {
    const HANDLE file = take.file_.load(std::memory_order_acquire);
    held = held || (file != nullptr && file != INVALID_HANDLE_VALUE && take.identity_ == identity);
  }
  return held;
}

void OpenTake::WriteSizesAtExit() noexcept {
  for (OpenTake& take : g_takes) {
    const HANDLE file = take.file_.load(std::memory_order_acquire);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) continue;
    const uint32_t riff = take.riff_data_.load(std::memory_order_acquire);
    const uint32_t data = take.open_data_.load(std::memory_order_acquire);
    const int64_t end = take.end_.load(std::memory_order_acquire);
    if (riff < 4 || data < riff + 4 || end < data) continue;
    // As the stop writes them: the data size, then the RIFF size when it can hold it.
    WriteLongAt(file, data - 4, static_cast<uint32_t>(end - data));
    if (end - riff <= 0xFFFFFFFFll) WriteLongAt(file, riff - 4, static_cast<uint32_t>(end - riff));
  }
}

}  // namespace wendrix::win32
