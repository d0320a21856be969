// dBLeft and dBRight: "No Sound" until a level exists, read-only.
#include <gtest/gtest.h>

#include <string>

#include "control_fixture.h"

namespace wendrix {
namespace {

using test::ControlFixture;
using test::ErrorOf;

TEST(LevelProperties, ReadNoSoundUntilALevelExists) {
  const Variant no_sound = Variant::String("No Sound");
  struct Case {
    Variant stored;
    Variant read;
  };
  const Case cases[] = {
      {Variant::Integer(-200), no_sound},
      {Variant::Long(-200), no_sound},  // a numeric comparison, whatever the type
      {Variant::Double(-200.0), no_sound},
      {Variant::Cy(Currency{-200'0000}), no_sound},
      {Variant::Cy(Currency{-100'0000}), Variant::Cy(Currency{-100'0000})},
      {Variant::Cy(Currency{-205000}), Variant::Cy(Currency{-205000})},
      {Variant::Double(-199.5), Variant::Double(-199.5)},
      {Variant::Integer(0), Variant::Integer(0)},
      {Variant(), Variant()},
      {Variant::String("loud"), Variant::String("loud")},
  };
  for (const Case& c : cases) {
    ControlFixture f;
    f.s.LevelLeftDb = c.stored;
    f.s.LevelRightDb = Variant::Integer(-200);
    EXPECT_EQ(f.control.get_dBLeft(), c.read);
    EXPECT_EQ(f.control.get_dBRight(), no_sound);
    f.s.LevelRightDb = c.stored;
    EXPECT_EQ(f.control.get_dBRight(), c.read);
    EXPECT_EQ(f.s.LevelLeftDb, c.stored);  // reading stores nothing
  }
}

TEST(LevelProperties, CannotBeSet) {
  ControlFixture f;
  f.PlaceNew();
  f.s.LevelLeftDb = Variant::Cy(Currency{-123400});
  f.Mark();
  f.host.user_mode = true;
  EXPECT_EQ(ErrorOf([&] { f.control.put_dBLeft(Variant::Integer(0)); }), 382);
  EXPECT_EQ(ErrorOf([&] { f.control.put_dBRight(Variant::Integer(0)); }), 382);
  f.host.user_mode = false;
  EXPECT_EQ(ErrorOf([&] { f.control.put_dBLeft(Variant::Integer(0)); }), 387);
  EXPECT_EQ(ErrorOf([&] { f.control.put_dBRight(Variant::Integer(0)); }), 387);
  EXPECT_EQ(f.control.get_dBLeft(), Variant::Cy(Currency{-123400}));
  EXPECT_EQ(f.control.get_dBRight(), Variant::String("No Sound"));
  EXPECT_TRUE(f.host.property_changes.empty());
}

}  // namespace
}  // namespace wendrix
