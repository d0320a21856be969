// The constituent elements: the table the control creates them from, and how they are reached.
#include <string>

#include "face_fixture.h"

namespace wendrix::face_test {
namespace {

TEST(Elements, AreCreatedInOrderWithTheirPlacesAndColours) {
  struct Row {
    std::string name;
    int index;
    ElementKind kind;
    int left, top, width, height;
    uint32_t color;
  };
  std::vector<Row> expected;
  expected.push_back({"Picture2", -1, ElementKind::Picture, 0, 480, 1815, 255, 0x80000006});
  expected.push_back({"LEDOverflowRight", -1, ElementKind::Picture, 1680, 240, 135, 255, 0x80});
  for (int i = 0; i <= 12; ++i) {
    expected.push_back({"LEDRight", i, ElementKind::Picture, 120 * i, 240, 135, 255,
                        i <= 9 ? 0x00404000u : 0x000040C0u});
  }
  for (int i = 12; i >= 0; --i) {
    expected.push_back({"LEDLeft", i, ElementKind::Picture, 120 * i, 0, 135, 255,
                        i <= 9 ? 0x00404000u : 0x000040C0u});
  }
  expected.push_back({"LEDOverflowLeft", -1, ElementKind::Picture, 1680, 0, 135, 255, 0x80});
  expected.push_back({"Timer1", -1, ElementKind::Timer, 0, 0, 0, 0, 0});
  expected.push_back({"Picture1", -1, ElementKind::Picture, 0, 0, 1815, 495, 0x8000000F});
  expected.push_back({"Label1", -1, ElementKind::Label, 0, 0, 1770, 435, 0x8000000F});

  const auto& table = ElementTable();
  ASSERT_EQ(expected.size(), table.size());
  for (size_t e = 0; e < table.size(); ++e) {
    const ElementDef& d = table[e];
    const Row& r = expected[e];
    SCOPED_TRACE("element " + std::to_string(e) + " " + r.name);
    EXPECT_EQ(d.name, r.name);
    EXPECT_EQ(d.index, r.index);
    EXPECT_EQ(d.kind, r.kind);
    EXPECT_EQ(d.left, r.left);
    EXPECT_EQ(d.top, r.top);
    EXPECT_EQ(d.width, r.width);
    EXPECT_EQ(d.height, r.height);
    EXPECT_EQ(d.back_color, r.color);
    // Only Label1 sits inside another element.
    EXPECT_EQ(d.parent, r.name == "Label1" ? element::Picture1 : -1);
  }
}

TEST(Elements, TimerStartsDisabledAtHalfASecond) {
  const ElementDef& timer = ElementTable()[element::Timer1];
  EXPECT_FALSE(timer.enabled);
  EXPECT_EQ(timer.interval, 500);
  EXPECT_FALSE(timer.visible);
}

TEST(Elements, ReachableByNameAndArraysByIndex) {
  for (int e = 0; e < kElementCount; ++e) {
    const ElementDef& d = ElementTable()[e];
    if (d.index >= 0) {
      EXPECT_EQ(ElementByName(d.name, d.index), e);
      EXPECT_EQ(ElementByName(d.name), -1) << d.name << ": an array needs its index";
      EXPECT_EQ(d.name == "LEDLeft" ? LEDLeft(d.index) : LEDRight(d.index), e);
    } else {
      EXPECT_EQ(ElementByName(d.name), e);
      EXPECT_EQ(ElementByName(d.name, -1), e);
      EXPECT_EQ(ElementByName(d.name, 0), -1);
    }
  }
  EXPECT_EQ(ElementByName("ledoverflowleft"), element::LEDOverflowLeft);
  EXPECT_EQ(ElementByName("Picture3"), -1);
  EXPECT_EQ(ElementByName(""), -1);
}

TEST(Elements, ArrayIndexesOutsideTheRowDoNotExist) {
  for (int index : {-1, 13, 14, 1000, -32768}) {
    EXPECT_EQ(ErrorOf([&] { LEDLeft(index); }), 340) << index;
    EXPECT_EQ(ErrorOf([&] { LEDRight(index); }), 340) << index;
    EXPECT_EQ(ErrorOf([&] { ElementByName("LEDRight", index); }), 340) << index;
  }
  try {
    LEDLeft(13);
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Control array element doesn't exist");
  }
}

TEST(Elements, CaptionIsTheThirtyTwoCharacterAttribution) {
  const std::string caption(Label1Caption());
  EXPECT_EQ(caption.size(), 32u);
  EXPECT_EQ(caption.rfind("Wendrix Control By ", 0), 0u);
}

}  // namespace
}  // namespace wendrix::face_test
