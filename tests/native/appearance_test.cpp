// BackColor, BackStyle and BorderStyle live on the surface and are announced to the container.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control_fixture.h"

namespace wendrix {
namespace {

using test::ControlFixture;
using test::DescriptionOf;
using test::ErrorOf;

TEST(Appearance, SetValuesReadBackAndAreSaved) {
  ControlFixture f;
  f.PlaceNew();
  f.Mark();
  f.control.put_BackStyle(1);
  f.control.put_BorderStyle(0);
  f.control.put_BackColor(0x8000000F);
  EXPECT_EQ(f.control.get_BackStyle(), 1);
  EXPECT_EQ(f.control.get_BorderStyle(), 0);
  EXPECT_EQ(f.control.get_BackColor(), 0x8000000Fu);
  EXPECT_EQ(f.host.property_changes,
            (std::vector<std::string>{"BackStyle", "BorderStyle", "BackColor"}));

  sim::SimPropertyBag bag;
  f.control.WriteProperties(bag);
  EXPECT_EQ(bag.values.at("BackStyle"), Variant::Integer(1));
  EXPECT_EQ(bag.values.at("BorderStyle"), Variant::Integer(0));
  EXPECT_EQ(bag.values.at("BackColor"), Variant::Long(static_cast<int32_t>(0x8000000Fu)));

  ControlFixture r;
  r.control.Initialize();
  r.control.ReadProperties(bag);
  EXPECT_EQ(r.control.get_BackStyle(), 1);
  EXPECT_EQ(r.control.get_BorderStyle(), 0);
  EXPECT_EQ(r.control.get_BackColor(), 0x8000000Fu);
  EXPECT_TRUE(r.host.property_changes.empty());
}

TEST(Appearance, AStyleBeyond16BitsOverflowsBeforeTheSurfaceIsTouched) {
  for (const int32_t style : {32768, -32769, INT32_MAX, INT32_MIN}) {
    SCOPED_TRACE(style);
    ControlFixture f;
    f.PlaceNew();
    const size_t mark = f.Mark();
    EXPECT_EQ(ErrorOf([&] { f.control.put_BackStyle(style); }), 6);
    EXPECT_EQ(ErrorOf([&] { f.control.put_BorderStyle(style); }), 6);
    EXPECT_TRUE(f.host.CallsSince(mark).empty());
    EXPECT_EQ(f.host.back_style(), 0);
    EXPECT_EQ(f.host.border_style(), 1);
  }
}

TEST(Appearance, AValueTheSurfaceRefusesIsNotAnnounced) {
  for (const int32_t style : {2, -1, 32767, -32768}) {
    SCOPED_TRACE(style);
    ControlFixture f;
    f.PlaceNew();
    f.Mark();
    EXPECT_EQ(ErrorOf([&] { f.control.put_BackStyle(style); }), 380);
    EXPECT_EQ(ErrorOf([&] { f.control.put_BorderStyle(style); }), 380);
    EXPECT_TRUE(f.host.property_changes.empty());
    const std::string value = " of " + std::to_string(style) + " is not one the control takes (";
    EXPECT_EQ(DescriptionOf([&] { f.control.put_BackStyle(style); }),
              "Invalid property value: a BackStyle" + value + "0 TRANSPARENT or 1 OPAQUE)");
    EXPECT_EQ(DescriptionOf([&] { f.control.put_BorderStyle(style); }),
              "Invalid property value: a BorderStyle" + value + "0 None or 1 FixedSingle)");
    EXPECT_EQ(f.control.get_BackStyle(), 0);
    EXPECT_EQ(f.control.get_BorderStyle(), 1);
  }
  ControlFixture f;
  f.PlaceNew();
  f.Mark();
  f.host.FailNext("Surface.BackColor", Error(errc::InvalidPropertyValue));
  EXPECT_EQ(ErrorOf([&] { f.control.put_BackColor(0xFF); }), 380);
  EXPECT_TRUE(f.host.property_changes.empty());
}

TEST(Appearance, TheSameValueIsStillAnnounced) {
  ControlFixture f;
  f.PlaceNew();
  f.Mark();
  f.control.put_BackColor(f.control.get_BackColor());
  f.control.put_BackStyle(f.control.get_BackStyle());
  EXPECT_EQ(f.host.property_changes, (std::vector<std::string>{"BackColor", "BackStyle"}));
}

TEST(Appearance, ChangesWhileRecordingAndDisabled) {
  ControlFixture f;
  f.PlaceNew();
  f.s.IsRecording = True;
  f.control.put_BackColor(0x00FF00);
  f.control.put_BackStyle(1);
  f.control.put_BorderStyle(0);
  EXPECT_EQ(f.host.back_color(), 0x00FF00u);
  EXPECT_EQ(f.host.back_style(), 1);
  EXPECT_EQ(f.host.border_style(), 0);
  EXPECT_EQ(f.host.property_changes.size(), 3u);
}

}  // namespace
}  // namespace wendrix
