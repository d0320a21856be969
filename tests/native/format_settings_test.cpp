// The format rules and the format and buffer properties.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control_fixture.h"
#include "recording/format.h"

namespace wendrix {
namespace {

using test::ControlFixture;
using test::ErrorOf;

TEST(Format, TheTwelveFormats) {
  struct Row {
    int32_t rate, channels, bits;
    int16_t block_align;
    int32_t bytes_per_second;
  };
  const Row rows[] = {
      {11025, 1, 8, 1, 11025},  {11025, 1, 16, 2, 22050}, {11025, 2, 8, 2, 22050},
      {11025, 2, 16, 4, 44100}, {22050, 1, 8, 1, 22050},  {22050, 1, 16, 2, 44100},
      {22050, 2, 8, 2, 44100},  {22050, 2, 16, 4, 88200}, {44100, 1, 8, 1, 44100},
      {44100, 1, 16, 2, 88200}, {44100, 2, 8, 2, 88200},  {44100, 2, 16, 4, 176400},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.rate) + "/" + std::to_string(r.channels) + "/" +
                 std::to_string(r.bits));
    const WaveFormat expected{1,
                              static_cast<int16_t>(r.channels),
                              r.rate,
                              r.bytes_per_second,
                              r.block_align,
                              static_cast<int16_t>(r.bits),
                              0};
    EXPECT_EQ(DeriveDeviceFormat(r.rate, r.channels, r.bits), expected);
    EXPECT_EQ(OneSecondBytes(r.rate, r.channels, r.bits), r.bytes_per_second);
  }
}

TEST(Format, AcceptedValues) {
  for (int32_t v : {11025, 22050, 44100}) EXPECT_TRUE(IsAcceptedSampleRate(v)) << v;
  for (int32_t v : {0, 8000, 48000, 44101, -44100}) EXPECT_FALSE(IsAcceptedSampleRate(v)) << v;
  for (int32_t v : {1, 2}) EXPECT_TRUE(IsAcceptedChannelCount(v)) << v;
  for (int32_t v : {0, 3, -1}) EXPECT_FALSE(IsAcceptedChannelCount(v)) << v;
  for (int32_t v : {8, 16}) EXPECT_TRUE(IsAcceptedSampleBits(v)) << v;
  for (int32_t v : {0, 12, 24, 32}) EXPECT_FALSE(IsAcceptedSampleBits(v)) << v;
}

// Restored values are not validated, so the rules meet odd formats too.
TEST(Format, OddFormatsRoundToEvenOrOverflow) {
  EXPECT_EQ(OneSecondBytes(11025, 1, 12), 16538);  // 16537.5
  EXPECT_EQ(OneSecondBytes(11025, 1, 4), 5512);    // 5512.5
  EXPECT_EQ(OneSecondBytes(8000, 0, 16), 0);
  EXPECT_EQ(DeriveDeviceFormat(8000, 3, 12).nBlockAlign, 4);         // 4.5
  EXPECT_EQ(DeriveDeviceFormat(8000, 1, 4).nBlockAlign, 0);          // 0.5
  EXPECT_EQ(ErrorOf([] { OneSecondBytes(44100, 100000, 16); }), 6);  // channels x rate
  EXPECT_EQ(ErrorOf([] { OneSecondBytes(1 << 30, 1, 32); }), 6);     // the width factor
  EXPECT_EQ(ErrorOf([] { DeriveDeviceFormat(44100, 40000, 16); }), 6);
  EXPECT_EQ(ErrorOf([] { DeriveDeviceFormat(44100, 2, 70000); }), 6);
  EXPECT_EQ(ErrorOf([] { DeriveDeviceFormat(44100, 32767, 32767); }), 6);  // block align
}

TEST(FormatSettings, RefusedValuesAreIgnoredSilently) {
  struct Case {
    const char* name;
    std::function<void(Control&)> put;
  };
  const Case cases[] = {
      {"48000 Hz", [](Control& c) { c.put_SamplesPerSecond(48000); }},
      {"0 channels", [](Control& c) { c.put_NumChannels(0); }},
      {"3 channels", [](Control& c) { c.put_NumChannels(3); }},
      {"12 bits", [](Control& c) { c.put_BitsPerSample(12); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControlFixture f;
    f.PlaceNew();
    const size_t mark = f.Mark();
    c.put(f.control);
    EXPECT_EQ(f.control.get_SamplesPerSecond(), 44100);
    EXPECT_EQ(f.control.get_NumChannels(), 2);
    EXPECT_EQ(f.control.get_BitsPerSample(), 16);
    EXPECT_EQ(f.s.ReinitPending, False);
    EXPECT_TRUE(f.host.CallsSince(mark).empty());
  }
}

TEST(FormatSettings, AnAcceptedChangeRecomputesTheAutomaticLength) {
  ControlFixture f;
  f.PlaceNew();
  const size_t mark = f.Mark();
  f.control.put_BitsPerSample(8);
  EXPECT_EQ(f.control.get_BitsPerSample(), 8);
  EXPECT_EQ(f.control.get_BufferLength(), 88200);
  EXPECT_EQ(f.s.ReinitPending, True);
  EXPECT_EQ(f.host.property_changes, std::vector<std::string>{"BitsPerSample"});
  f.control.put_SamplesPerSecond(11025);
  EXPECT_EQ(f.control.get_BufferLength(), 22050);
  EXPECT_TRUE(f.host.CallsSince(mark, "Surface.").empty());  // only NumChannels relays out

  // The value already held is a full change as well.
  f.s.ReinitPending = False;
  f.control.put_SamplesPerSecond(11025);
  EXPECT_EQ(f.s.ReinitPending, True);
  EXPECT_EQ(f.host.property_changes.size(), 3u);

  // Without the automatic length, the length stays.
  f.control.put_AutoCalculateBuff(False);
  f.control.put_SamplesPerSecond(44100);
  EXPECT_EQ(f.control.get_BufferLength(), 22050);
}

TEST(FormatSettings, NumChannelsRelaysOut) {
  ControlFixture f;
  f.PlaceNew();
  f.control.put_NumChannels(1);
  EXPECT_EQ(f.host.height(), 255);
  EXPECT_EQ(f.control.get_BufferLength(), 88200);
  f.control.put_NumChannels(2);
  EXPECT_EQ(f.host.height(), 510);
  EXPECT_EQ(f.host.property_changes, (std::vector<std::string>{"NumChannels", "NumChannels"}));
}

TEST(FormatSettings, AChangeDuringARecordingOnlyStoresAndFlags) {
  ControlFixture f;
  f.PlaceNew();
  f.s.IsRecording = True;
  f.s.DeviceReady = True;
  const size_t mark = f.Mark();
  f.control.put_NumChannels(1);
  f.control.put_SamplesPerSecond(22050);
  EXPECT_EQ(f.control.get_NumChannels(), 1);
  EXPECT_EQ(f.control.get_SamplesPerSecond(), 22050);
  EXPECT_EQ(f.s.ReinitPending, True);
  EXPECT_EQ(f.control.get_BufferLength(), 176400);
  EXPECT_EQ(f.host.CallsSince(mark),
            (std::vector<std::string>{"PropertyChanged NumChannels",
                                      "PropertyChanged SamplesPerSecond"}));
  EXPECT_EQ(f.capture.opened, 0);
  EXPECT_EQ(f.s.DeviceReady, True);
}

TEST(FormatSettings, AReadyRecorderIsRecreatedInTheNewFormat) {
  ControlFixture f;
  f.PlaceNew();
  f.capture.has_device = true;
  f.control.Init_DSWendrix();
  ASSERT_EQ(f.capture.opened, 1);
  f.control.put_SamplesPerSecond(22050);
  EXPECT_EQ(f.capture.opened, 2);
  ASSERT_EQ(f.capture.device->formats.size(), 2u);
  EXPECT_EQ(f.capture.device->formats[1], DeriveDeviceFormat(22050, 2, 16));
  EXPECT_EQ(f.capture.device->descs[1].dwBufferBytes, 88200u);
  EXPECT_EQ(f.s.DeviceReady, True);
  EXPECT_EQ(f.s.ReinitPending, False);

  // A failing re-creation reaches the caller; the value is stored and announced all the same.
  f.capture.has_device = false;
  f.Mark();
  EXPECT_EQ(ErrorOf([&] { f.control.put_BitsPerSample(8); }),
            static_cast<int32_t>(test::kNoDriver));
  EXPECT_EQ(f.control.get_BitsPerSample(), 8);
  EXPECT_EQ(f.host.property_changes, std::vector<std::string>{"BitsPerSample"});
  EXPECT_EQ(f.s.DeviceReady, False);
  EXPECT_EQ(f.s.ReinitPending, True);
}

TEST(BufferLength, PutRule) {
  struct Case {
    const char* name;
    Boolean recording, automatic, enabled;
    int32_t device_bytes_per_second;  // of the format at the last Init_DSWendrix
    int32_t put;
    int32_t expected;
    bool announced;
  };
  const Case cases[] = {
      {"stored", False, False, True, 0, 1000, 1000, true},
      {"no range check", False, False, True, 0, -5, -5, true},
      {"automatic before any init", False, True, True, 0, 1000, 0, true},
      {"automatic after an init", False, True, True, 22050, 1000, 22050, true},
      {"disabled", False, False, False, 0, 1000, 176400, false},
      {"disabled and automatic", False, True, False, 22050, 1000, 176400, false},
      {"recording", True, False, True, 0, 1000, 176400, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControlFixture f;
    f.PlaceNew();
    f.s.IsEnabled = c.enabled;
    f.s.IsRecording = c.recording;
    f.s.AutoBufferSize = c.automatic;
    f.s.DeviceFormat.nAvgBytesPerSec = c.device_bytes_per_second;
    f.Mark();
    f.control.put_BufferLength(c.put);
    EXPECT_EQ(f.control.get_BufferLength(), c.expected);
    EXPECT_EQ(f.host.property_changes,
              c.announced ? std::vector<std::string>{"BufferLength"} : std::vector<std::string>{});
    EXPECT_EQ(f.s.ReinitPending, False);
  }
}

TEST(AutoCalculateBuff, IsStoredAndAnnouncedWithoutRecomputing) {
  ControlFixture f;
  f.PlaceNew();
  f.s.IsRecording = True;
  f.s.BufferBytes = 1000;
  f.Mark();
  f.control.put_AutoCalculateBuff(False);
  f.control.put_AutoCalculateBuff(True);
  EXPECT_EQ(f.control.get_AutoCalculateBuff(), True);
  EXPECT_EQ(f.control.get_BufferLength(), 1000);
  EXPECT_EQ(f.host.property_changes,
            (std::vector<std::string>{"AutoCalculateBuff", "AutoCalculateBuff"}));
}

TEST(BufferPosition, ReadsTheDevicePositionOnlyWhileRecording) {
  ControlFixture f;
  f.PlaceNew();
  auto buffer = std::make_shared<test::StillBuffer>();
  buffer->device_position = 4410;
  buffer->read_position = 4000;
  f.s.RecorderBuffer = buffer;
  EXPECT_EQ(f.control.get_BufferPosition(), Variant::Integer(0));

  f.s.IsRecording = True;
  EXPECT_EQ(f.control.get_BufferPosition(), Variant::Long(4410));
  EXPECT_EQ(f.s.PositionValue, Variant::Long(4410));

  buffer->fail_position = true;
  EXPECT_EQ(ErrorOf([&] { f.control.get_BufferPosition(); }), static_cast<int32_t>(0x88780096u));

  // A recording whose buffer was released reports an error, not a crash.
  f.s.RecorderBuffer.reset();
  EXPECT_EQ(ErrorOf([&] { f.control.get_BufferPosition(); }), 91);

  f.s.IsRecording = False;
  EXPECT_EQ(f.control.get_BufferPosition(), Variant::Integer(0));
  EXPECT_EQ(f.s.PositionValue, Variant::Integer(0));
}

TEST(BufferPosition, CannotBeSet) {
  ControlFixture f;
  f.PlaceNew();
  f.s.PositionValue = Variant::Long(12);
  f.Mark();
  f.host.user_mode = false;
  EXPECT_EQ(ErrorOf([&] { f.control.put_BufferPosition(Variant::Integer(0)); }), 387);
  f.host.user_mode = true;
  EXPECT_EQ(ErrorOf([&] { f.control.put_BufferPosition(Variant::Integer(0)); }), 382);
  EXPECT_EQ(f.s.PositionValue, Variant::Long(12));
  EXPECT_TRUE(f.host.property_changes.empty());
}

}  // namespace
}  // namespace wendrix
