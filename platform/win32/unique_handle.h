// Owners of the system handles the Windows platform opens: each closes its handle once, when
// it goes or is reset, and can hand it over with release().
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <utility>

namespace wendrix::win32 {

// Traits: `type`, `Invalid()` (the value that owns nothing) and `Close(h)` (true on success).
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::type;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid(); }
  // Gives up ownership without closing.
  Handle release() { return std::exchange(h_, Traits::Invalid()); }
  // Closes the owned handle (if any) and takes `h`; false when closing failed.
  bool reset(Handle h = Traits::Invalid()) {
    const Handle old = std::exchange(h_, h);
    return old == Traits::Invalid() || Traits::Close(old);
  }

 private:
  Handle h_ = Traits::Invalid();
};

struct FileHandleTraits {
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE h) { return CloseHandle(h) != FALSE; }
};

// A file opened by CreateFileW.
using UniqueFile = UniqueHandle<FileHandleTraits>;

}  // namespace wendrix::win32
