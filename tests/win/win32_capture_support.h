// Opening the default recording device in a test: a test without a device skips, unless the
// test audio environment promises one (a tone is playing), where a missing device fails.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/capture.h"
#include "platform/error.h"
#include "tests/win/win32_test_support.h"

namespace wendrix::test {

// The default device, or null with the reason in `why`.
inline std::shared_ptr<CaptureDevice> OpenDefaultDevice(CaptureSystem& system, std::string& why) {
  try {
    return system.CreateDefaultDevice();
  } catch (const Error& e) {
    why = e.description();
    return nullptr;
  }
}

// Polls a started buffer until its read position moves; returns the seconds that took, or -1
// when it did not move within `limit` seconds.
inline double WaitForFirstBytes(CaptureBuffer& buffer, double limit) {
  int32_t device = 0;
  int32_t start = 0;
  buffer.GetCurrentPosition(device, start);
  const double begin = Now();
  for (double t = 0; t < limit; t = Now() - begin) {
    int32_t read = 0;
    buffer.GetCurrentPosition(device, read);
    if (read != start) return t;
    Sleep(2);
  }
  return -1;
}

// Under Wine the first capture of a process starts about a second late, while its connection
// to the sound server is set up; later captures start at once. A test that times a recording
// runs one capture first, until the device delivers; returns how long that took.
inline double WarmUpCapture(CaptureSystem& system) {
  const WaveFormat format{1, 2, 44100, 176400, 4, 16, 0};
  auto device = system.CreateDefaultDevice();
  auto buffer = device->CreateCaptureBuffer(CaptureBufferDesc{20, 0, 176400, 0, &format});
  buffer->Start(kCaptureStartLooping);
  const double latency = WaitForFirstBytes(*buffer, 5.0);
  buffer->Stop();
  return latency;
}

}  // namespace wendrix::test

// Declares `device`, the default recording device; skips the test when there is none, or
// fails it when the test audio environment says a tone is playing.
#define WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, system)                                  \
  std::string device##_why;                                                             \
  const std::shared_ptr<::wendrix::CaptureDevice> device =                              \
      ::wendrix::test::OpenDefaultDevice(system, device##_why);                         \
  if (!device && ::wendrix::test::ExpectedTones())                                      \
    FAIL() << "the test audio environment is set up but there is no recording device: " \
           << device##_why;                                                             \
  if (!device)                                                                          \
  GTEST_SKIP() << "no recording device (scripts/audio-env provides one): " << device##_why
