// DirectSound capture of the default recording device, for real: the ring runs at the
// format's byte rate, wraps, locks in two regions, and holds what the device heard. Under the
// test audio environment the device hears a known tone per channel; without a device the
// tests skip (unless that environment says a tone is playing).
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/win32/dsound_capture.h"
#include "tests/win/win32_capture_support.h"
#include "tests/win/win32_test_support.h"

namespace wendrix::test {
namespace {

constexpr uint32_t kInvalidParam = 0x80070057u;  // DSERR_INVALIDPARAM

TEST(WinCapture, RingRunsAtTheRealRateWrapsAndHoldsTheTone) {
  ComScope com;
  win32::DsCaptureSystem system;
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, system);

  const WaveFormat format{1, 2, 44100, 176400, 4, 16, 0};
  const uint32_t ring = 176400;
  auto buffer = device->CreateCaptureBuffer(CaptureBufferDesc{20, 0, ring, 0, &format});
  buffer->Start(kCaptureStartLooping);

  // Once the device delivers, poll for about two seconds; unwrap the read position.
  const double latency = WaitForFirstBytes(*buffer, 5.0);
  std::printf("[ capture ] first bytes %.3f s after the start\n", latency);
  ASSERT_GE(latency, 0) << "the read position never moved";
  int32_t device_pos = 0;
  int32_t read = 0;
  buffer->GetCurrentPosition(device_pos, read);
  int32_t previous = read;
  const double t0 = Now();
  uint64_t advanced = 0;
  int wraps = 0;
  double t = t0;
  while ((t = Now()) - t0 < 2.0) {
    Sleep(5);
    buffer->GetCurrentPosition(device_pos, read);
    ASSERT_GE(read, 0);
    ASSERT_LT(read, static_cast<int32_t>(ring));
    ASSERT_GE(device_pos, 0);
    ASSERT_LT(device_pos, static_cast<int32_t>(ring));
    // The device writes at or ahead of the read position, never half a ring ahead.
    EXPECT_LT((device_pos - read + static_cast<int32_t>(ring)) % static_cast<int32_t>(ring),
              static_cast<int32_t>(ring / 2));
    if (read < previous) ++wraps;
    advanced += static_cast<uint32_t>((read - previous + static_cast<int32_t>(ring)) %
                                      static_cast<int32_t>(ring));
    previous = read;
  }
  const double rate = static_cast<double>(advanced) / (t - t0);
  RecordProperty("bytes_per_second", static_cast<int>(rate));
  std::printf("[ capture ] read position advanced %.0f bytes/s (nominal 176400), %d wraps\n", rate,
              wraps);
  EXPECT_NEAR(rate, 176400, 17640);
  EXPECT_GE(wraps, 1);

  // A stopped ring stands still.
  buffer->Stop();
  int32_t stopped_device = 0;
  int32_t stopped_read = 0;
  buffer->GetCurrentPosition(stopped_device, stopped_read);
  Sleep(100);
  buffer->GetCurrentPosition(device_pos, read);
  EXPECT_EQ(read, stopped_read);

  // The whole ring from the read position on is the last second, oldest first: two regions.
  LockedRegion first;
  LockedRegion second;
  buffer->Lock(static_cast<uint32_t>(read), ring, first, second);
  EXPECT_EQ(first.size, ring - static_cast<uint32_t>(read));
  EXPECT_EQ(second.size, static_cast<uint32_t>(read));
  if (read > 0) {
    EXPECT_EQ(second.data, first.data - read) << "the wrap goes to the ring's start";
  }
  std::vector<int16_t> samples(ring / 2);
  std::memcpy(samples.data(), first.data, first.size);
  if (second.size) {
    std::memcpy(reinterpret_cast<uint8_t*>(samples.data()) + first.size, second.data, second.size);
  }
  buffer->Unlock(first, second);

  // A range that does not wrap: one region.
  buffer->Lock(400, 800, first, second);
  EXPECT_EQ(first.size, 800u);
  EXPECT_EQ(second.size, 0u);
  buffer->Unlock(first, second);

  // Outside the ring: refused, named.
  for (const auto& [offset, bytes] : {std::pair{ring, 4u}, std::pair{0u, ring + 4}}) {
    try {
      buffer->Lock(offset, bytes, first, second);
      ADD_FAILURE() << "locked " << bytes << " bytes at " << offset;
    } catch (const Error& e) {
      EXPECT_EQ(e.hresult(), kInvalidParam);
      EXPECT_EQ(e.description().rfind("IDirectSoundCaptureBuffer::Lock: DSERR_INVALIDPARAM", 0), 0u)
          << e.description();
    }
  }

  const auto tones = ExpectedTones();
  if (!tones) return;
  for (int channel = 0; channel < 2; ++channel) {
    const Tone& tone = channel == 0 ? tones->first : tones->second;
    const ChannelStats stats = Analyse(samples.data(), samples.size() / 2, channel, 2, 44100);
    std::printf("[ capture ] channel %d: peak %.2f dBFS (tone %.2f), %.1f Hz (tone %.0f)\n",
                channel, stats.peak_db, tone.peak_db(), stats.frequency_hz, tone.frequency_hz);
    EXPECT_NEAR(stats.peak_db, tone.peak_db(), 0.5) << "channel " << channel;
    EXPECT_NEAR(stats.frequency_hz, tone.frequency_hz, tone.frequency_hz * 0.02)
        << "channel " << channel;
  }
}

TEST(WinCapture, EveryFormatRunsAtItsByteRate) {
  ComScope com;
  win32::DsCaptureSystem system;
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, system);
  const struct {
    int rate;
    int16_t channels;
    int16_t bits;
  } formats[] = {{11025, 1, 8}, {22050, 2, 8}, {44100, 1, 16}};
  for (const auto& f : formats) {
    SCOPED_TRACE(testing::Message() << f.rate << " Hz, " << f.channels << " ch, " << f.bits);
    const auto align = static_cast<int16_t>(f.channels * f.bits / 8);
    const WaveFormat format{1, f.channels, f.rate, f.rate * align, align, f.bits, 0};
    const auto ring = static_cast<uint32_t>(f.rate * align);
    // One device holds one ring at a time.
    auto buffer = system.CreateDefaultDevice()->CreateCaptureBuffer(
        CaptureBufferDesc{20, 0, ring, 0, &format});
    buffer->Start(kCaptureStartLooping);
    ASSERT_GE(WaitForFirstBytes(*buffer, 5.0), 0);
    int32_t device_pos = 0;
    int32_t from = 0;
    buffer->GetCurrentPosition(device_pos, from);
    const double t0 = Now();
    Sleep(700);
    int32_t to = 0;
    buffer->GetCurrentPosition(device_pos, to);
    const double rate =
        ((to - from + static_cast<int32_t>(ring)) % static_cast<int32_t>(ring)) / (Now() - t0);
    buffer->Stop();
    EXPECT_NEAR(rate, format.nAvgBytesPerSec, format.nAvgBytesPerSec * 0.1);
    EXPECT_EQ(to % align, 0) << "positions fall on whole frames";
  }
}

// Wine releases a device's ring when the device goes first; the ring keeps its device.
TEST(WinCapture, ARingOutlivesItsDevice) {
  ComScope com;
  win32::DsCaptureSystem system;
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, system);
  const WaveFormat format{1, 2, 44100, 176400, 4, 16, 0};
  std::shared_ptr<CaptureBuffer> buffer;
  {
    auto own = system.CreateDefaultDevice();
    buffer = own->CreateCaptureBuffer(CaptureBufferDesc{20, 0, 176400, 0, &format});
  }
  buffer->Start(kCaptureStartLooping);
  EXPECT_GE(WaitForFirstBytes(*buffer, 5.0), 0);
  buffer->Stop();
  LockedRegion first;
  LockedRegion second;
  buffer->Lock(0, 176400, first, second);
  EXPECT_EQ(first.size, 176400u);
  buffer->Unlock(first, second);
  buffer.reset();
}

TEST(WinCapture, FailuresNameTheCallAndKeepTheStatus) {
  ComScope com;
  win32::DsCaptureSystem system;
  WENDRIX_DEFAULT_DEVICE_OR_SKIP(device, system);
  const WaveFormat format{1, 2, 44100, 176400, 4, 16, 0};
  try {
    device->CreateCaptureBuffer(CaptureBufferDesc{20, 0, 0, 0, &format});
    ADD_FAILURE() << "a ring of 0 bytes was created";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(e.hresult()));
    EXPECT_EQ(e.description().rfind("IDirectSoundCapture::CreateCaptureBuffer: ", 0), 0u)
        << e.description();
  }
}

}  // namespace
}  // namespace wendrix::test
