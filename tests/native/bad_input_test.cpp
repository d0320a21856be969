// What a damaged or hostile saved form can do to the control: never reach the device with a
// format it must not see, never read a value the coercions refuse as 0, never lose the type of
// a value kept as read.
#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/sim/sim_host.h"
#include "recorder_fixture.h"

namespace wendrix::test {
namespace {

TEST(BadInput, ARestoredFormatOutsideTheTwelveNeverReachesTheDevice) {
  struct Case {
    const char* key;
    Variant value;
    bool auto_buffer;
  };
  const Case cases[] = {
      {"SamplesPerSecond", Variant::Long(1), true},  // a division by zero in the audio stack
      {"SamplesPerSecond", Variant::Long(-44100), true},
      {"SamplesPerSecond", Variant::Long(100000000), true},
      {"SamplesPerSecond", Variant::Long(8000), true},
      {"NumChannels", Variant::Long(0), true},
      {"NumChannels", Variant::Long(100000), true},
      {"BitsPerSample", Variant::Long(12), true},
      {"BitsPerSample", Variant::Long(-16), true},
      {"BufferLength", Variant::Long(0), false},
      {"BufferLength", Variant::Long(-176400), false},
      {"BufferLength", Variant::Long(3), false},  // less than one 4-byte frame
      {"BufferLength", Variant::Long(0x10000000), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + (" " + std::to_string(c.value.ToLong())));
    RecorderRig rig;
    sim::SimPropertyBag bag;
    bag.values[c.key] = c.value;
    bag.values["AutoCalculateBuff"] = Variant::Bool(c.auto_buffer ? True : False);
    rig.control.ReadProperties(bag);
    try {
      rig.control.Init_DSWendrix();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::InvalidPropertyValue);
      EXPECT_NE(e.description().find(std::string("a ") + c.key + " of " +
                                     std::to_string(c.value.ToLong())),
                std::string::npos)
          << e.description();
    }
    EXPECT_TRUE(rig.capture.calls.empty());
    EXPECT_EQ(rig.s.DeviceReady, False);
  }

  // Every supported format still opens, and so does a ring that is not a whole number of
  // frames (hosts keep lengths like 22050 bytes of 4-byte frames).
  for (int32_t rate : {11025, 22050, 44100})
    for (int32_t channels : {1, 2})
      for (int32_t bits : {8, 16}) {
        RecorderRig rig;
        rig.SetFormat(rate, channels, bits);
        EXPECT_EQ(rig.control.Init_DSWendrix(), True) << rate << " " << channels << " " << bits;
      }
  RecorderRig odd;
  odd.SetRing(22050);
  EXPECT_EQ(odd.control.Init_DSWendrix(), True);
}

TEST(BadInput, BagValuesFollowTheCoercionsAndHeldValuesKeepTheirType) {
  // A Null is a type mismatch wherever a conversion is made, and the restore ends there.
  for (const char* key :
       {"Enabled", "BufferLength", "SamplesPerSecond", "NumChannels", "BitsPerSample",
        "AutoCalculateBuff", "BackColor", "BackStyle", "BorderStyle", "ShowVU", "ShowVUScale"}) {
    SCOPED_TRACE(key);
    RecorderRig rig;
    sim::SimPropertyBag bag;
    bag.values[key] = Variant::Null();
    try {
      rig.control.ReadProperties(bag);
      ADD_FAILURE() << "a Null was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::TypeMismatch);
    }
    EXPECT_EQ(bag.reads.back(), key);
  }

  // The values kept as read come back as the types they were stored with; Booleans read as
  // True or False whatever number the bag held for them.
  RecorderRig rig;
  sim::SimPropertyBag bag;
  const Variant date = Variant::Date(45000.25);
  const Variant decimal = Variant::Dec(Decimal{2, 0x80, 0, 12345});  // -123.45
  const Variant big = Variant::OtherInteger(VarType::LongLong, int64_t{1} << 40);
  bag.values["BufferPosition"] = date;
  bag.values["dBLeft"] = decimal;
  bag.values["dBRight"] = big;
  bag.values["Enabled"] = Variant::Bool(1);
  bag.values["ShowVU"] = Variant::Integer(7);
  bag.values["SamplesPerSecond"] = Variant::OtherInteger(VarType::ULong, 22050);
  bag.values["NumChannels"] = Variant::Dec(Decimal{1, 0, 0, 15});  // 1.5 rounds to even: 2
  rig.control.ReadProperties(bag);
  EXPECT_EQ(rig.s.PositionValue, date);
  EXPECT_EQ(rig.s.LevelLeftDb, decimal);
  EXPECT_EQ(rig.s.LevelRightDb, big);
  EXPECT_EQ(rig.s.IsEnabled, True);
  EXPECT_EQ(rig.s.MeterVisible, True);
  EXPECT_EQ(rig.s.SampleRate, 22050);
  EXPECT_EQ(rig.s.ChannelCount, 2);
  EXPECT_EQ(rig.control.get_dBLeft(), decimal);

  sim::SimPropertyBag saved;
  rig.control.WriteProperties(saved);
  EXPECT_EQ(saved.values["BufferPosition"], date);
  EXPECT_EQ(saved.values["dBLeft"], decimal);
  EXPECT_EQ(saved.values["dBRight"], big);
}

}  // namespace
}  // namespace wendrix::test
