// Creation, defaults, restore and save through the property bag, resize and Enabled.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "control_fixture.h"

namespace wendrix {
namespace {

using test::ControlFixture;
using test::ErrorOf;

const std::vector<std::string> kKeys = {"Enabled",        "BufferLength",  "SamplesPerSecond",
                                        "NumChannels",    "BitsPerSample", "AutoCalculateBuff",
                                        "BufferPosition", "BackColor",     "BackStyle",
                                        "BorderStyle",    "ShowVU",        "ShowVUScale",
                                        "dBLeft",         "dBRight"};

std::vector<std::string> FirstKeys(size_t n) { return {kKeys.begin(), kKeys.begin() + n}; }

TEST(Lifecycle, CreationLaysOutWithTheMeterHidden) {
  ControlFixture f;
  f.control.Initialize();
  EXPECT_EQ(f.host.width(), 1830);
  EXPECT_EQ(f.host.height(), 510);
  EXPECT_EQ(f.host.CallsSince(0, "Surface."),
            (std::vector<std::string>{"Surface.Width 1830", "Surface.Height 510"}));
  EXPECT_EQ(f.s.MeterVisible, False);
  EXPECT_EQ(f.s.SampleRate, 0);
  EXPECT_TRUE(f.s.LevelLeftDb.IsEmpty());
  EXPECT_TRUE(f.host.property_changes.empty());
}

TEST(Lifecycle, ANewControlStartsDisabledWithTheFormatDefaults) {
  ControlFixture f;
  f.PlaceNew();
  EXPECT_EQ(f.control.get_Enabled(), False);
  EXPECT_EQ(f.control.get_BufferLength(), 176400);
  EXPECT_EQ(f.control.get_SamplesPerSecond(), 44100);
  EXPECT_EQ(f.control.get_NumChannels(), 2);
  EXPECT_EQ(f.control.get_BitsPerSample(), 16);
  EXPECT_EQ(f.control.get_AutoCalculateBuff(), True);
  EXPECT_EQ(f.control.get_BufferPosition(), Variant::Integer(0));
  EXPECT_EQ(f.control.get_ShowVU(), True);
  EXPECT_EQ(f.control.get_ShowVUScale(), True);
  EXPECT_EQ(f.control.get_dBLeft(), Variant::String("No Sound"));
  EXPECT_EQ(f.control.get_dBRight(), Variant::String("No Sound"));
  EXPECT_EQ(f.s.LevelLeftDb, Variant::Integer(-200));
  EXPECT_EQ(f.host.width(), 1830);
  EXPECT_EQ(f.host.height(), 510);
  EXPECT_EQ(f.control.get_BackColor(), 0x808080u);
  EXPECT_TRUE(f.host.property_changes.empty());
  EXPECT_EQ(f.s.DeviceReady, False);
  EXPECT_EQ(f.capture.opened, 0);
}

TEST(Lifecycle, ResizeGivesTheSurfaceBackItsOwnSize) {
  ControlFixture f;
  f.PlaceNew();
  // A real surface notifies Resize again when its size changes.
  int resizes = 0;
  f.host.on_resize = [&] {
    if (++resizes < 10) f.control.Resize();
  };
  f.host.SetWidth(3000);
  f.host.SetHeight(2000);
  f.control.Resize();
  EXPECT_EQ(f.host.width(), 1830);
  EXPECT_EQ(f.host.height(), 510);
  EXPECT_LT(resizes, 10);
}

TEST(Lifecycle, AFailingLayoutEndsTheDefaults) {
  ControlFixture f;
  f.control.Initialize();
  f.host.FailNext("Surface.Height", Error(errc::InvalidPropertyValue));
  EXPECT_EQ(ErrorOf([&] { f.control.InitProperties(); }), 380);
  EXPECT_EQ(f.s.MeterVisible, True);
  EXPECT_TRUE(f.s.LevelLeftDb.IsEmpty());
}

TEST(Enabled, IsIgnoredWhileRecording) {
  ControlFixture f;
  f.PlaceNew();
  f.control.put_Enabled(True);
  f.s.IsRecording = True;
  f.Mark();
  f.control.put_Enabled(False);
  EXPECT_EQ(f.control.get_Enabled(), True);
  EXPECT_TRUE(f.host.property_changes.empty());

  f.s.IsRecording = False;
  f.control.put_Enabled(False);
  EXPECT_EQ(f.control.get_Enabled(), False);
  EXPECT_EQ(f.host.property_changes, std::vector<std::string>{"Enabled"});

  // A setter stores what it is given; only the bag's conversion normalises to -1/0.
  f.control.put_Enabled(1);
  EXPECT_EQ(f.control.get_Enabled(), 1);
}

TEST(Persistence, AnEmptyBagRestoresTheSavedDefaults) {
  ControlFixture f;
  f.control.Initialize();
  // Surface values that differ from the bag defaults, so that the restore must set them.
  f.host.SetBackColor(0x00FF00);
  f.host.SetBackStyle(1);
  f.host.SetBorderStyle(0);
  f.Mark();
  sim::SimPropertyBag bag;
  f.control.ReadProperties(bag);

  EXPECT_EQ(bag.reads, kKeys);
  EXPECT_EQ(f.control.get_Enabled(), True);
  EXPECT_EQ(f.control.get_BufferLength(), 176400);
  EXPECT_EQ(f.control.get_SamplesPerSecond(), 44100);
  EXPECT_EQ(f.control.get_NumChannels(), 2);
  EXPECT_EQ(f.control.get_BitsPerSample(), 16);
  EXPECT_EQ(f.control.get_AutoCalculateBuff(), True);
  EXPECT_EQ(f.s.PositionValue, Variant::Integer(0));
  EXPECT_EQ(f.host.back_color(), 0x808080u);
  EXPECT_EQ(f.host.back_style(), 0);
  EXPECT_EQ(f.host.border_style(), 1);
  EXPECT_EQ(f.control.get_ShowVU(), True);
  EXPECT_EQ(f.control.get_ShowVUScale(), True);
  EXPECT_EQ(f.control.get_dBLeft(), Variant::String("No Sound"));
  EXPECT_EQ(f.control.get_dBRight(), Variant::String("No Sound"));
  EXPECT_EQ(f.host.height(), 510);
  EXPECT_TRUE(f.host.property_changes.empty());
}

TEST(Persistence, WritesFourteenKeysInOrderWithTheirTypes) {
  ControlFixture f;
  f.PlaceNew();
  f.host.SetBackColor(0x8000000F);  // a system colour: the high bit set
  f.host.SetBackStyle(1);
  f.s.LevelLeftDb = Variant::Cy(Currency{-123456});
  sim::SimPropertyBag bag;
  f.control.WriteProperties(bag);

  EXPECT_EQ(bag.writes, kKeys);
  struct Row {
    const char* key;
    Variant value;
    Variant default_value;
  };
  const Row rows[] = {
      {"Enabled", Variant::Bool(False), Variant::Bool(True)},
      {"BufferLength", Variant::Long(176400), Variant::Long(176400)},
      {"SamplesPerSecond", Variant::Long(44100), Variant::Long(44100)},
      {"NumChannels", Variant::Long(2), Variant::Integer(2)},
      {"BitsPerSample", Variant::Long(16), Variant::Integer(16)},
      {"AutoCalculateBuff", Variant::Bool(True), Variant::Bool(True)},
      {"BufferPosition", Variant::Integer(0), Variant::Integer(0)},
      {"BackColor", Variant::Long(static_cast<int32_t>(0x8000000Fu)), Variant::Long(8421504)},
      {"BackStyle", Variant::Integer(1), Variant::Integer(0)},
      {"BorderStyle", Variant::Integer(1), Variant::Integer(1)},
      {"ShowVU", Variant::Bool(True), Variant::Bool(True)},
      {"ShowVUScale", Variant::Bool(True), Variant::Bool(True)},
      {"dBLeft", Variant::Cy(Currency{-123456}), Variant::Integer(-200)},
      {"dBRight", Variant::Integer(-200), Variant::Integer(-200)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    EXPECT_EQ(bag.values.at(row.key), row.value);
    EXPECT_EQ(bag.write_defaults.at(row.key), row.default_value);
  }
  // Saving changes nothing, and also works while recording.
  EXPECT_TRUE(f.host.property_changes.empty());
  f.s.IsRecording = True;
  sim::SimPropertyBag again;
  f.control.WriteProperties(again);
  EXPECT_EQ(again.values, bag.values);
}

TEST(Persistence, ANewControlDiffersFromTheDefaultsOnlyInEnabled) {
  ControlFixture f;
  f.PlaceNew();
  sim::SimPropertyBag bag;
  f.control.WriteProperties(bag);
  for (const std::string& key : kKeys) {
    SCOPED_TRACE(key);
    const double value = bag.values.at(key).ToDouble();
    EXPECT_EQ(value == bag.write_defaults.at(key).ToDouble(), key != "Enabled");
  }

  sim::SimPropertyBag saved;
  saved.omit_defaults = true;
  f.control.WriteProperties(saved);
  ControlFixture restored;
  restored.control.Initialize();
  restored.control.ReadProperties(saved);
  EXPECT_EQ(restored.control.get_Enabled(), False);
}

TEST(Persistence, SaveAndRestoreKeepsValuesAndVariantTypes) {
  ControlFixture f;
  f.PlaceNew();
  f.s.SampleRate = 8000;  // refused by the setter, kept by the restore
  f.s.ChannelCount = 1;
  f.s.BufferBytes = 1000;  // not recalculated although the length is automatic
  f.s.PositionValue = Variant::Long(0);
  f.s.LevelLeftDb = Variant::Cy(Currency{-205000});
  f.s.LevelRightDb = Variant::Double(-100);
  sim::SimPropertyBag bag;
  bag.omit_defaults = true;
  f.control.WriteProperties(bag);

  ControlFixture r;
  r.control.Initialize();
  r.control.ReadProperties(bag);
  EXPECT_EQ(r.control.get_Enabled(), False);
  EXPECT_EQ(r.control.get_SamplesPerSecond(), 8000);
  EXPECT_EQ(r.control.get_BufferLength(), 1000);
  EXPECT_EQ(r.s.PositionValue, Variant::Long(0));
  EXPECT_EQ(r.s.LevelLeftDb, Variant::Cy(Currency{-205000}));
  EXPECT_EQ(r.s.LevelRightDb, Variant::Double(-100));
  EXPECT_EQ(r.control.get_dBLeft(), Variant::Cy(Currency{-205000}));
  EXPECT_EQ(r.host.height(), 255);
  EXPECT_TRUE(r.host.property_changes.empty());
  EXPECT_EQ(r.capture.opened, 0);
}

TEST(Persistence, HeightFollowsChannelsAndMeter) {
  struct Case {
    Variant channels;
    Variant show_vu;
    float height;
  };
  const Case cases[] = {
      {Variant::Long(1), Variant::Bool(True), 255},
      {Variant::Long(1), Variant::Bool(False), 510},
      {Variant::Long(2), Variant::Bool(True), 510},
      {Variant::Long(2), Variant::Bool(False), 510},
      {Variant::Long(0), Variant::Bool(True), 510},
      {Variant::Integer(1), Variant::Integer(7), 255},  // any nonzero number shows the meter
  };
  for (const Case& c : cases) {
    ControlFixture f;
    f.control.Initialize();
    sim::SimPropertyBag bag;
    bag.values["NumChannels"] = c.channels;
    bag.values["ShowVU"] = c.show_vu;
    f.control.ReadProperties(bag);
    EXPECT_EQ(f.host.height(), c.height) << c.channels.long_value();
    EXPECT_EQ(f.host.width(), 1830);
  }
}

TEST(Persistence, RestoredValuesAreConverted) {
  struct Case {
    const char* key;
    Variant stored;
    std::function<int64_t(ControlFixture&)> member;
    int64_t expected;
  };
  auto enabled = [](ControlFixture& f) { return f.s.IsEnabled; };
  auto length = [](ControlFixture& f) { return f.s.BufferBytes; };
  auto rate = [](ControlFixture& f) { return f.s.SampleRate; };
  auto color = [](ControlFixture& f) { return f.host.back_color(); };
  auto show = [](ControlFixture& f) { return f.s.MeterVisible; };
  const Case cases[] = {
      {"SamplesPerSecond", Variant::String("22050"), rate, 22050},
      {"SamplesPerSecond", Variant::String(" 11,025 "), rate, 11025},
      {"Enabled", Variant::Integer(5), enabled, True},  // normalised to -1
      {"Enabled", Variant::String("false"), enabled, False},
      {"BufferLength", Variant::Double(2.5), length, 2},  // ties to even
      {"BufferLength", Variant::Double(3.5), length, 4},
      {"BufferLength", Variant::Single(-1.5f), length, -2},
      {"BufferLength", Variant::Cy(Currency{17640'0000}), length, 17640},
      {"BufferLength", Variant::Bool(True), length, -1},
      {"BufferLength", Variant(), length, 0},
      {"BackColor", Variant::Long(static_cast<int32_t>(0x8000000Fu)), color, 0x8000000F},
      {"BackColor", Variant::Double(255), color, 255},
      {"ShowVU", Variant::Double(0.25), show, True},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ControlFixture f;
    f.control.Initialize();
    sim::SimPropertyBag bag;
    bag.values[c.key] = c.stored;
    f.control.ReadProperties(bag);
    EXPECT_EQ(c.member(f), c.expected);
  }
}

TEST(Persistence, ANonNumericStringEndsTheRestoreAtItsKey) {
  ControlFixture f;
  f.control.Initialize();
  const size_t mark = f.Mark();
  sim::SimPropertyBag bag;
  bag.values["BufferLength"] = Variant::Long(1000);
  bag.values["SamplesPerSecond"] = Variant::String("fast");
  bag.values["NumChannels"] = Variant::Long(1);
  EXPECT_EQ(ErrorOf([&] { f.control.ReadProperties(bag); }), 13);

  EXPECT_EQ(bag.reads, FirstKeys(3));
  EXPECT_EQ(f.s.IsEnabled, True);
  EXPECT_EQ(f.s.BufferBytes, 1000);
  EXPECT_EQ(f.s.SampleRate, 0);
  EXPECT_EQ(f.s.ChannelCount, 0);
  // No layout ran: the control keeps the size of its creation.
  EXPECT_TRUE(f.host.CallsSince(mark).empty());
  EXPECT_EQ(f.host.height(), 510);
}

TEST(Persistence, ABagFailureEndsTheRestoreAndTheSave) {
  ControlFixture f;
  f.control.Initialize();
  sim::SimPropertyBag bag;
  bag.values["BackStyle"] = Variant::Integer(1);
  bag.fail.emplace("ShowVU", Error(errc::InvalidPropertyValue));
  const size_t mark = f.Mark();
  EXPECT_EQ(ErrorOf([&] { f.control.ReadProperties(bag); }), 380);
  EXPECT_EQ(bag.reads, FirstKeys(11));
  EXPECT_EQ(f.host.back_style(), 1);  // keys before the failure are restored
  EXPECT_TRUE(f.host.CallsSince(mark, "Surface.Width").empty());

  ControlFixture g;
  g.PlaceNew();
  sim::SimPropertyBag out;
  out.fail.emplace("BackColor", Error(errc::InvalidPropertyValue));
  EXPECT_EQ(ErrorOf([&] { g.control.WriteProperties(out); }), 380);
  EXPECT_EQ(out.writes, FirstKeys(8));
  EXPECT_EQ(out.values.count("BackStyle"), 0u);
}

// Whatever a bag holds under whatever key, the restore either converts it or fails with the
// conversion's error (or, for the two styles, the surface's refusal), stopping at that key.
TEST(Persistence, EveryVariantTypeUnderEveryKeyConvertsOrFails) {
  enum Kind { kBool, kLong, kInt, kHeld };
  using Member = std::function<Variant(ControlFixture&)>;
  struct Key {
    Kind kind;
    Member member;  // what the restore made of the value, as a Variant of the target's type
  };
  auto b = [](Boolean ControlState::*m) {
    return [m](ControlFixture& f) { return Variant::Bool(f.s.*m); };
  };
  auto l = [](int32_t ControlState::*m) {
    return [m](ControlFixture& f) { return Variant::Long(f.s.*m); };
  };
  auto v = [](Variant ControlState::*m) { return [m](ControlFixture& f) { return f.s.*m; }; };
  const Key keys[] = {
      {kBool, b(&ControlState::IsEnabled)},
      {kLong, l(&ControlState::BufferBytes)},
      {kLong, l(&ControlState::SampleRate)},
      {kLong, l(&ControlState::ChannelCount)},
      {kLong, l(&ControlState::SampleBits)},
      {kBool, b(&ControlState::AutoBufferSize)},
      {kHeld, v(&ControlState::PositionValue)},
      {kLong,
       [](ControlFixture& f) { return Variant::Long(static_cast<int32_t>(f.host.back_color())); }},
      {kInt, [](ControlFixture& f) { return Variant::Integer(f.host.back_style()); }},
      {kInt, [](ControlFixture& f) { return Variant::Integer(f.host.border_style()); }},
      {kBool, b(&ControlState::MeterVisible)},
      {kBool, b(&ControlState::ScaleVisible)},
      {kHeld, v(&ControlState::LevelLeftDb)},
      {kHeld, v(&ControlState::LevelRightDb)},
  };
  static_assert(std::size(keys) == 14);
  const Variant not_a_number = Variant::String("abc");
  const Variant error_value = Variant::ErrorCode(static_cast<int32_t>(0x80020004u));
  const Variant huge = Variant::Double(1e300);
  const std::vector<Variant> samples = {
      Variant(),
      Variant::Integer(1),
      Variant::Integer(-200),
      Variant::Long(70000),
      Variant::Long(INT32_MIN),
      Variant::Single(1.5f),
      Variant::Single(3.0e38f),
      Variant::Double(-0.5),
      huge,
      Variant::Cy(Currency{INT64_MAX}),
      Variant::String("12"),
      not_a_number,
      Variant::String(""),
      Variant::String("True"),
      error_value,
      Variant::Bool(True),
  };
  for (size_t k = 0; k < kKeys.size(); ++k) {
    const Key& key = keys[k];
    for (const Variant& sample : samples) {
      SCOPED_TRACE(kKeys[k] + " type " + std::to_string(static_cast<int>(sample.type())));
      ControlFixture f;
      f.control.Initialize();
      const size_t mark = f.Mark();
      sim::SimPropertyBag bag;
      bag.values[kKeys[k]] = sample;
      int32_t error = 0;
      try {
        f.control.ReadProperties(bag);
      } catch (const Error& e) {
        error = e.number();
      }
      if (key.kind != kHeld && (sample == not_a_number || sample == error_value)) {
        EXPECT_EQ(error, 13);
      }
      if ((key.kind == kLong || key.kind == kInt) && sample == huge) {
        EXPECT_EQ(error, 6);
      }
      if (key.kind == kInt && sample == Variant::Long(70000)) {
        EXPECT_EQ(error, 6);
      }
      if (error == 0) {
        EXPECT_EQ(bag.reads, kKeys);
        EXPECT_EQ(f.host.CallsSince(mark, "Surface.Width").size(), 1u);
        switch (key.kind) {
          case kBool:
            EXPECT_EQ(key.member(f), Variant::Bool(sample.ToBoolean()));
            break;
          case kLong:
            EXPECT_EQ(key.member(f), Variant::Long(sample.ToLong()));
            break;
          case kInt:
            EXPECT_EQ(key.member(f), Variant::Integer(sample.ToInteger()));
            break;
          case kHeld:
            EXPECT_EQ(key.member(f), sample);
            break;
        }
      } else {
        EXPECT_NE(key.kind, kHeld);
        EXPECT_TRUE(error == 6 || error == 13 || (key.kind == kInt && error == 380)) << error;
        EXPECT_EQ(bag.reads, FirstKeys(k + 1));
        EXPECT_TRUE(f.host.CallsSince(mark, "Surface.Width").empty());
      }
    }
  }
}

}  // namespace
}  // namespace wendrix
