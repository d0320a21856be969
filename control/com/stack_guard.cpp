// The stack protector's canary and its failure, for the module itself instead of libssp's.
// libssp draws its canary in a constructor through CryptAcquireContext, which loads a
// cryptographic provider while the loader lock is held (the module's constructors run inside
// DllMain), as a DLL must not. This canary mixes what the C runtime of Microsoft's compiler
// takes for its security cookie: the time, the process and thread, the tick count, the
// performance counter and an address that ASLR moves; none of them takes a lock or loads a
// library. The build checks that libssp's guard is not linked (its import of
// CryptAcquireContextA would show).
#include <windows.h>

#include <cstdint>

extern "C" {

// Not zero even before the constructor: a canary of 0 is one a string copy can write.
uintptr_t __stack_chk_guard = static_cast<uintptr_t>(0x2B992DDFA232ull);

// A smashed stack ends the process at once, as the system's own runtime ends it: a fail-fast
// (int 0x29, the code in ECX) that Windows 8 and later turn into a crash report with
// STATUS_STACK_BUFFER_OVERRUN, past every exception handler of the smashed process. Windows 7 has
// no fail-fast and is ended with the same status.
[[noreturn]] void __stack_chk_fail() {
  if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
  }
  TerminateProcess(GetCurrentProcess(), 0xC0000409);  // STATUS_STACK_BUFFER_OVERRUN
  __builtin_trap();
}
[[noreturn]] void __stack_chk_fail_local() { __stack_chk_fail(); }
// A checked copy (_FORTIFY_SOURCE) that would overrun its destination.
[[noreturn]] void __chk_fail() { __stack_chk_fail(); }

}  // extern "C"

namespace {

// First of the constructors, unprotected itself: no function that checks the canary is on the
// stack while it changes.
__attribute__((constructor(101), no_stack_protector)) void DrawCanary() {
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  uint64_t mixed = (static_cast<uint64_t>(time.dwHighDateTime) << 32) ^ time.dwLowDateTime;
  mixed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 16;
  mixed ^= GetCurrentThreadId();
  mixed ^= GetTickCount64() << 24;
  mixed ^= static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
  mixed ^= reinterpret_cast<uintptr_t>(&mixed);
  const auto canary = static_cast<uintptr_t>(mixed ^ (mixed >> 32));
  if (canary != 0) __stack_chk_guard = canary;
}

}  // namespace
