// ShowVU, ShowVUScale, the visibility step of the layout and the size that goes with it.
#include <string>
#include <vector>

#include "face_fixture.h"

namespace wendrix::face_test {
namespace {

// The Visible calls of the visibility step, in order.
std::vector<std::string> VisibilityCalls(bool meter) {
  std::vector<std::string> calls{VisibleCall(element::Picture1, !meter)};
  for (int i = 0; i <= 12; ++i) {
    calls.push_back(VisibleCall(LEDLeft(i), meter));
    calls.push_back(VisibleCall(LEDRight(i), meter));
  }
  calls.push_back(VisibleCall(element::LEDOverflowLeft, meter));
  calls.push_back(VisibleCall(element::LEDOverflowRight, meter));
  return calls;
}

void ExpectMeterShown(const sim::SimHost& host, bool meter) {
  EXPECT_EQ(host.element_visible(element::Picture1), !meter);
  for (int i = 0; i <= 12; ++i) {
    EXPECT_EQ(host.element_visible(LEDLeft(i)), meter) << "LEDLeft " << i;
    EXPECT_EQ(host.element_visible(LEDRight(i)), meter) << "LEDRight " << i;
  }
  EXPECT_EQ(host.element_visible(element::LEDOverflowLeft), meter);
  EXPECT_EQ(host.element_visible(element::LEDOverflowRight), meter);
}

TEST(MeterVisibility, ShowsOrHidesInItsOrderAndTouchesNothingElse) {
  for (Boolean visible : {True, False, Boolean{1}}) {
    Face f;
    f.s().MeterVisible = visible;
    const size_t mark = f.Mark();
    f.control.ApplyMeterVisibility();
    EXPECT_EQ(f.host.CallsSince(mark), VisibilityCalls(visible != False)) << visible;
    ExpectMeterShown(f.host, visible != False);
  }
}

TEST(MeterVisibility, StopsAtTheFirstFailingAssignment) {
  Face f;
  f.s().MeterVisible = True;
  f.host.FailNext(VisibleCall(LEDRight(4), true), Error(380, "refused"));
  const size_t mark = f.Mark();
  EXPECT_EQ(ErrorOf([&] { f.control.ApplyMeterVisibility(); }), 380);
  const std::vector<std::string> calls = f.host.CallsSince(mark);
  ASSERT_EQ(calls.size(), 1u + 2 * 4 + 2);
  EXPECT_EQ(calls.back(), "!" + VisibleCall(LEDRight(4), true));
  EXPECT_TRUE(f.host.element_visible(LEDLeft(4)));
  // The elements created visible keep that until the step reaches them; Picture1 is hidden.
  EXPECT_FALSE(f.host.element_visible(element::Picture1));
}

// The visibility step changes no colour: shown again, the LEDs show what they showed.
TEST(MeterVisibility, KeepsTheColours) {
  Face f;
  f.control.PaintBar(Bank::Left, Currency{-205000});
  f.control.LightLamp(Bank::Left);
  const size_t mark = f.Mark();
  for (Boolean visible : {False, True}) {
    f.s().MeterVisible = visible;
    f.control.ApplyMeterVisibility();
  }
  EXPECT_TRUE(f.host.CallsSince(mark, "BackColor").empty());
  EXPECT_EQ(f.host.element_color(LEDLeft(7)), 0x0000FF00u);
  EXPECT_EQ(f.host.element_color(element::LEDOverflowLeft), 0x000000FFu);
}

// --- The setters and the layout they run ---

struct LayoutCase {
  Boolean meter;
  int32_t channels;
  float height;
};

TEST(MeterLayout, SizeFollowsMeterAndChannels) {
  const LayoutCase cases[] = {
      {True, 1, 255},  {True, 2, 510},  {True, 0, 510},       {True, 3, 510},
      {False, 1, 510}, {False, 2, 510}, {Boolean{1}, 1, 255},
  };
  for (const LayoutCase& c : cases) {
    Face f;
    f.s().ChannelCount = c.channels;
    f.s().MeterVisible = c.meter;
    f.control.ApplyLayout();
    SCOPED_TRACE("meter " + std::to_string(c.meter) + ", channels " + std::to_string(c.channels));
    EXPECT_EQ(f.host.width(), 1830);
    EXPECT_EQ(f.host.height(), c.height);
    ExpectMeterShown(f.host, c.meter != False);
  }
}

TEST(MeterLayout, ShowVUStoresReportsMarksAndLaysOut) {
  Face f;
  f.control.Initialize();
  f.control.InitProperties();
  f.s().ChannelCount = 1;
  for (Boolean value : {False, True, True}) {
    f.s().ReinitPending = False;
    const size_t mark = f.Mark();
    f.control.put_ShowVU(value);
    EXPECT_EQ(f.control.get_ShowVU(), value);
    EXPECT_EQ(f.s().ReinitPending, True);
    std::vector<std::string> expected{"PropertyChanged ShowVU"};
    for (const std::string& call : VisibilityCalls(value != False)) expected.push_back(call);
    const std::vector<std::string> calls = f.host.CallsSince(mark);
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);
    EXPECT_EQ(f.host.height(), value != False ? 255 : 510);
    ExpectMeterShown(f.host, value != False);
  }
}

TEST(MeterLayout, ShowVUScaleChangesNothingVisible) {
  Face f;
  f.control.Initialize();
  f.control.InitProperties();
  for (Boolean value : {False, False, True}) {
    f.s().ReinitPending = False;
    const size_t mark = f.Mark();
    f.control.put_ShowVUScale(value);
    EXPECT_EQ(f.control.get_ShowVUScale(), value);
    EXPECT_EQ(f.control.get_ShowVU(), True);
    EXPECT_EQ(f.s().ReinitPending, True);
    const std::vector<std::string> calls = f.host.CallsSince(mark);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "PropertyChanged ShowVUScale");
    EXPECT_EQ(f.host.CallsSince(mark, "Visible"), VisibilityCalls(true));
    ExpectMeterShown(f.host, true);
    EXPECT_EQ(f.host.height(), 510);
  }
}

// A layout that fails leaves the setter's first three steps in place and returns the error.
TEST(MeterLayout, SetterReturnsTheLayoutsErrorAfterItsFirstSteps) {
  for (bool scale : {false, true}) {
    Face f;
    f.control.Initialize();
    f.control.InitProperties();
    f.s().ReinitPending = False;
    f.host.FailNext(VisibleCall(LEDLeft(0), false), Error(380, "refused"));
    const size_t mark = f.Mark();
    // Hiding the meter: Picture1 shows, then the first LED fails.
    const int32_t error = ErrorOf([&] {
      if (scale) {
        f.s().MeterVisible = False;  // the scale setter re-applies whatever ShowVU says
        f.control.put_ShowVUScale(False);
      } else {
        f.control.put_ShowVU(False);
      }
    });
    EXPECT_EQ(error, 380);
    EXPECT_EQ(scale ? f.control.get_ShowVUScale() : f.control.get_ShowVU(), False);
    EXPECT_EQ(f.host.property_changes.back(), scale ? "ShowVUScale" : "ShowVU");
    EXPECT_EQ(f.s().ReinitPending, True);
    EXPECT_TRUE(f.host.element_visible(element::Picture1));
    EXPECT_TRUE(f.host.element_visible(LEDRight(0)));
    // The size step never ran.
    EXPECT_TRUE(f.host.CallsSince(mark, "Surface.").empty());
  }
}

TEST(MeterLayout, AFailingPropertyChangedEndsTheSetterAfterStoring) {
  Face f;
  f.control.Initialize();
  f.control.InitProperties();
  f.s().ReinitPending = False;
  f.host.FailNext("PropertyChanged ShowVU", Error(5));
  EXPECT_EQ(ErrorOf([&] { f.control.put_ShowVU(False); }), 5);
  EXPECT_EQ(f.control.get_ShowVU(), False);
  EXPECT_EQ(f.s().ReinitPending, False);
  ExpectMeterShown(f.host, true);
}

// The host cannot give the control another size.
TEST(MeterLayout, HostResizeReturnsToTheControlsSize) {
  for (int32_t channels : {1, 2}) {
    for (Boolean meter : {True, False}) {
      Face f;
      f.host.on_resize = [&] { f.control.Resize(); };
      f.control.Initialize();
      f.control.InitProperties();
      f.s().ChannelCount = channels;
      f.s().MeterVisible = meter;
      f.control.ApplyLayout();
      f.host.SetWidth(3000);
      f.host.SetHeight(2000);
      EXPECT_EQ(f.host.width(), 1830);
      EXPECT_EQ(f.host.height(), meter != False && channels == 1 ? 255 : 510)
          << "channels " << channels << ", meter " << meter;
    }
  }
}

TEST(MeterLayout, ANewControlShowsBothRowsAtFullHeight) {
  Face f;
  f.control.Initialize();
  // At creation every member is zero: the panel shows.
  ExpectMeterShown(f.host, false);
  EXPECT_EQ(f.host.height(), 510);
  f.control.InitProperties();
  ExpectMeterShown(f.host, true);
  EXPECT_EQ(f.host.width(), 1830);
  EXPECT_EQ(f.host.height(), 510);
}

TEST(MeterLayout, RestoredHeightFollowsTheBag) {
  struct BagCase {
    Variant channels;
    Variant show_vu;
    bool meter;
    float height;
  };
  const BagCase cases[] = {
      {Variant::Long(1), Variant::Bool(True), true, 255},
      {Variant::Integer(1), Variant::Bool(True), true, 255},
      {Variant::Long(1), Variant::Bool(False), false, 510},
      {Variant::Long(2), Variant::Bool(False), false, 510},
      {Variant::Long(3), Variant::Bool(False), false, 510},
      {Variant::Long(2), Variant::Bool(True), true, 510},
      {Variant::Long(1), Variant(), false, 510},  // Empty converts to False
  };
  for (const BagCase& c : cases) {
    Face f;
    sim::SimPropertyBag bag;
    bag.values["NumChannels"] = c.channels;
    bag.values["ShowVU"] = c.show_vu;
    f.control.Initialize();
    f.control.ReadProperties(bag);
    EXPECT_EQ(f.host.height(), c.height);
    EXPECT_EQ(f.control.get_ShowVU() != False, c.meter);
    ExpectMeterShown(f.host, c.meter);
  }
}

}  // namespace
}  // namespace wendrix::face_test
