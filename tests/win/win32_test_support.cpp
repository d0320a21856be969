#include "tests/win/win32_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "platform/win32/text.h"

namespace wendrix::test {

using win32::Narrow;
using win32::Wide;

namespace {

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace

WinTempDir::WinTempDir() {
  wchar_t base[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPath failed");
  std::wstring root(base, n);
  if (!root.empty() && root.back() == L'\\') root.pop_back();
  for (unsigned attempt = GetTickCount() ^ GetCurrentProcessId();; ++attempt) {
    const std::wstring dir = root + L"\\wendrix-win-" + std::to_wstring(attempt % 1000000000u);
    if (CreateDirectoryW(dir.c_str(), nullptr)) {
      path_ = Narrow(dir);
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("CreateDirectory failed");
  }
}

// With the \\?\ prefix: a test may leave paths longer than MAX_PATH behind.
WinTempDir::~WinTempDir() { RemoveTree(L"\\\\?\\" + Wide(path_)); }

std::optional<Bytes> ReadAll(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  Bytes out;
  uint8_t chunk[65536];
  DWORD n = 0;
  while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n > 0)
    out.insert(out.end(), chunk, chunk + n);
  CloseHandle(h);
  return out;
}

bool WriteAll(const std::string& path, const Bytes& content) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == content.size();
}

uint32_t U32At(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t U16At(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

std::string TextAt(const Bytes& b, size_t at) {
  return std::string(b.begin() + static_cast<ptrdiff_t>(at),
                     b.begin() + static_cast<ptrdiff_t>(at) + 4);
}

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER count;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Tone::peak_db() const { return 20 * std::log10(peak); }

namespace {

std::optional<Tone> ToneOf(const char* variable) {
  const char* text = std::getenv(variable);
  if (!text) return std::nullopt;
  Tone tone;
  char* end = nullptr;
  tone.frequency_hz = std::strtod(text, &end);
  if (*end != ':') return std::nullopt;
  tone.peak = std::strtod(end + 1, &end);
  if (*end || tone.frequency_hz <= 0 || tone.peak <= 0) return std::nullopt;
  return tone;
}

}  // namespace

std::optional<std::pair<Tone, Tone>> ExpectedTones() {
  const auto left = ToneOf("WENDRIX_TONE_LEFT");
  const auto right = ToneOf("WENDRIX_TONE_RIGHT");
  if (!left || !right) return std::nullopt;
  return std::pair{*left, *right};
}

ChannelStats Analyse(const int16_t* samples, size_t frames, int channel, int channels, int rate) {
  ChannelStats stats;
  int peak = 0;
  size_t crossings = 0;
  size_t first = 0;
  size_t last = 0;
  for (size_t i = 0; i < frames; ++i) {
    const int v = samples[i * channels + channel];
    peak = std::max(peak, std::abs(v));
    if (i > 0 && samples[(i - 1) * channels + channel] < 0 && v >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (peak > 0) stats.peak_db = 20 * std::log10(peak / 32768.0);
  // Whole periods between the first and the last rising crossing.
  if (crossings >= 2)
    stats.frequency_hz =
        static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
  return stats;
}

}  // namespace wendrix::test
