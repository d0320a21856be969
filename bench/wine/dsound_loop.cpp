// The cost of the position watch against the bare DirectSound loop it is added to: a one-second
// capture ring at 44100 Hz, 2 channels, 16 bits, read on a window timer every half ring (Lock,
// copy, Unlock, as any capture program does) for N seconds; with --watch a TimerThread also
// samples the positions a quarter ring apart, as the control's watch does. Prints the process's
// CPU time (GetProcessTimes) and the watch's wakeups per second.
//   dsound-loop.exe [--watch] [--seconds N]
#include <dsound.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/win32/timer_thread.h"
#include "platform/win32/win_headers.h"

namespace {

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool watch = false;
  int seconds = 60;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--watch") == 0) watch = true;
    if (wcscmp(argv[i], L"--seconds") == 0 && i + 1 < argc) seconds = _wtoi(argv[++i]);
  }
  IDirectSoundCapture* device = nullptr;
  if (FAILED(DirectSoundCaptureCreate(nullptr, &device, nullptr))) return 2;
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  DSCBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwBufferBytes = 176400;
  desc.lpwfxFormat = &format;
  IDirectSoundCaptureBuffer* buffer = nullptr;
  if (FAILED(device->CreateCaptureBuffer(&desc, &buffer, nullptr))) return 3;
  if (FAILED(buffer->Start(DSCBSTART_LOOPING))) return 4;

  std::unique_ptr<wendrix::win32::TimerThread> thread;
  volatile DWORD sampled = 0;
  if (watch) {
    thread = std::make_unique<wendrix::win32::TimerThread>(
        [&] {
          DWORD capture = 0;
          DWORD read = 0;
          buffer->GetCurrentPosition(&capture, &read);
          sampled = read;
        },
        250000);
  }
  std::vector<uint8_t> taken;
  taken.reserve(static_cast<size_t>(seconds + 2) * 176400);
  DWORD offset = 0;
  const double cpu_before = CpuSeconds();
  const DWORD began = GetTickCount();
  const UINT_PTR timer = SetTimer(nullptr, 0, 500, nullptr);
  // The steady loop runs between these two lines (the cost bench measures between them).
  std::printf("started\n");
  std::fflush(stdout);
  MSG msg;
  while (GetTickCount() - began < static_cast<DWORD>(seconds) * 1000 &&
         GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message != WM_TIMER) continue;
    DWORD capture = 0;
    DWORD read = 0;
    buffer->GetCurrentPosition(&capture, &read);
    const DWORD n = (read + 176400 - offset) % 176400;
    if (n == 0) continue;
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (SUCCEEDED(buffer->Lock(offset, n, &p1, &n1, &p2, &n2, 0))) {
      taken.insert(taken.end(), static_cast<uint8_t*>(p1), static_cast<uint8_t*>(p1) + n1);
      if (p2) taken.insert(taken.end(), static_cast<uint8_t*>(p2), static_cast<uint8_t*>(p2) + n2);
      buffer->Unlock(p1, n1, p2, n2);
    }
    offset = read;
  }
  KillTimer(nullptr, timer);
  std::printf("stopping\n");
  std::fflush(stdout);
  const double cpu = CpuSeconds() - cpu_before;
  const double wall = (GetTickCount() - began) / 1000.0;
  const double wakeups = thread ? static_cast<double>(thread->wakeups()) / wall : 0;
  thread.reset();
  buffer->Stop();
  buffer->Release();
  device->Release();
  std::printf("%s: %.1f s, cpu %.3f s (%.3f%%), watch wakeups/s %.2f, bytes %zu\n",
              watch ? "with watch" : "bare", wall, cpu, 100 * cpu / wall, wakeups, taken.size());
  return 0;
}
