// The panel picture as a file: read back record by record and played on a model of the DC
// (object table, selected pen and brush), independently of the code that wrote it.
#include "control/panel_picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wendrix {
namespace {

std::vector<uint8_t> ReadCommittedPicture() {
  std::ifstream in(std::string(WENDRIX_SOURCE_DIR) + "/resources/panel.wmf", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct GdiObject {
  enum Kind { Brush, Pen } kind;
  uint16_t style;
  uint16_t width;  // pens only
  uint32_t color;
};

struct Fill {  // a PatBlt with the selected brush
  int x, y, width, height;
  uint32_t rop;
  GdiObject brush;
};

struct Outline {  // a Rectangle with the selected pen and brush
  int left, top, right, bottom;
  GdiObject pen, brush;
};

struct Played {
  std::vector<uint16_t> placeable;  // the 11 words of the placeable header
  std::vector<uint16_t> header;     // the 9 words of the metafile header
  int map_mode = 0;
  int window_x = -1, window_y = -1, window_width = 0, window_height = 0;
  std::vector<Fill> fills;
  std::vector<Outline> outlines;
  size_t max_record_words = 0;
  int objects_needed = 0;
  bool ended = false;
  std::vector<std::string> problems;
};

Played Play(const std::vector<uint8_t>& bytes) {
  Played p;
  if (bytes.size() % 2 != 0 || bytes.size() < 40) {
    p.problems.push_back("short or odd file");
    return p;
  }
  std::vector<uint16_t> w(bytes.size() / 2);
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  p.placeable.assign(w.begin(), w.begin() + 11);
  p.header.assign(w.begin() + 11, w.begin() + 20);

  std::map<int, GdiObject> table;
  std::optional<GdiObject> pen, brush;
  const auto create = [&](GdiObject o) {
    int slot = 0;
    while (table.count(slot)) ++slot;
    table[slot] = o;
    p.objects_needed = std::max(p.objects_needed, slot + 1);
  };
  size_t at = 20;
  while (at < w.size() && !p.ended) {
    if (at + 3 > w.size()) {
      p.problems.push_back("truncated record");
      break;
    }
    const uint32_t size = w[at] | static_cast<uint32_t>(w[at + 1]) << 16;
    const uint16_t function = w[at + 2];
    if (size < 3 || at + size > w.size()) {
      p.problems.push_back("bad record size");
      break;
    }
    p.max_record_words = std::max<size_t>(p.max_record_words, size);
    const uint16_t* a = &w[at + 3];
    const auto s = [&](int i) { return static_cast<int16_t>(a[i]); };
    switch (function) {
      case 0x0000:  // EOF
        p.ended = true;
        break;
      case 0x0103:
        p.map_mode = a[0];
        break;
      case 0x020B:
        p.window_y = s(0);
        p.window_x = s(1);
        break;
      case 0x020C:
        p.window_height = s(0);
        p.window_width = s(1);
        break;
      case 0x02FC:  // CreateBrushIndirect: style, colour, hatch
        create({GdiObject::Brush, a[0], 0, a[1] | static_cast<uint32_t>(a[2]) << 16});
        break;
      case 0x02FA:  // CreatePenIndirect: style, width (x, y), colour
        create({GdiObject::Pen, a[0], a[1], a[3] | static_cast<uint32_t>(a[4]) << 16});
        break;
      case 0x012D:  // SelectObject
        if (!table.count(a[0])) {
          p.problems.push_back("select of an empty slot");
        } else {
          (table[a[0]].kind == GdiObject::Brush ? brush : pen) = table[a[0]];
        }
        break;
      case 0x01F0:  // DeleteObject
        if (!table.erase(a[0])) p.problems.push_back("delete of an empty slot");
        break;
      case 0x061D:  // PatBlt: rop, height, width, y, x
        if (!brush) p.problems.push_back("fill without a brush");
        p.fills.push_back({s(5), s(4), s(3), s(2), a[0] | static_cast<uint32_t>(a[1]) << 16,
                           brush.value_or(GdiObject{})});
        break;
      case 0x041B:  // Rectangle: bottom, right, top, left
        if (!pen || !brush) p.problems.push_back("rectangle without pen or brush");
        p.outlines.push_back(
            {s(3), s(2), s(1), s(0), pen.value_or(GdiObject{}), brush.value_or(GdiObject{})});
        break;
      default:
        p.problems.push_back("unexpected record " + std::to_string(function));
    }
    at += size;
  }
  if (!p.ended) p.problems.push_back("no EOF record");
  if (at != w.size()) p.problems.push_back("bytes after EOF");
  return p;
}

uint32_t Grey(int v) { return static_cast<uint32_t>(v * 0x010101); }

TEST(PanelPicture, CommittedFileIsWhatTheGeneratorWrites) {
  const std::vector<uint8_t> file = ReadCommittedPicture();
  ASSERT_FALSE(file.empty()) << "resources/panel.wmf is missing";
  EXPECT_TRUE(file == PanelPicture())
      << "regenerate it: cmake --build <dir> --target panel_picture";
}

TEST(PanelPicture, HeadersDescribeAPlaceable380By4141TwipPicture) {
  const std::vector<uint8_t> file = ReadCommittedPicture();
  const Played p = Play(file);
  ASSERT_EQ(p.placeable.size(), 11u);
  EXPECT_EQ(p.placeable[0] | p.placeable[1] << 16, 0x9AC6CDD7u);
  EXPECT_EQ(p.placeable[2], 0);  // handle
  // Bounding box left, top, right, bottom; units per inch.
  EXPECT_EQ(std::vector<uint16_t>(p.placeable.begin() + 3, p.placeable.begin() + 8),
            (std::vector<uint16_t>{0, 0, 380, 4141, 1440}));
  uint16_t checksum = 0;
  for (int i = 0; i < 10; ++i) checksum ^= p.placeable[i];
  EXPECT_EQ(p.placeable[10], checksum);

  // Metafile header: type, header words, version, size in words, objects, largest record.
  EXPECT_EQ(p.header[0], 1);
  EXPECT_EQ(p.header[1], 9);
  EXPECT_EQ(p.header[2], 0x0300);
  EXPECT_EQ(p.header[3] | p.header[4] << 16, (file.size() - 22) / 2);
  EXPECT_EQ(p.header[5], p.objects_needed);
  EXPECT_EQ(p.header[6] | p.header[7] << 16, p.max_record_words);
  EXPECT_EQ(p.header[8], 0);
}

TEST(PanelPicture, DrawsSixtyGreyBandsAndAnOutline) {
  const Played p = Play(ReadCommittedPicture());
  EXPECT_TRUE(p.problems.empty()) << p.problems.front();
  EXPECT_EQ(p.map_mode, 8);  // MM_ANISOTROPIC
  EXPECT_EQ(p.window_x, 0);
  EXPECT_EQ(p.window_y, 0);
  EXPECT_EQ(p.window_width, 380);
  EXPECT_EQ(p.window_height, 4141);

  ASSERT_EQ(p.fills.size(), 60u);
  int x = 0;
  int steps_of_two = 0;
  for (size_t k = 0; k < p.fills.size(); ++k) {
    const Fill& f = p.fills[k];
    SCOPED_TRACE("band " + std::to_string(k));
    EXPECT_EQ(f.rop, 0x00F00021u);  // PATCOPY: the brush alone, no outline
    EXPECT_EQ(f.x, x);              // side by side, no gap
    EXPECT_TRUE(f.width == 6 || f.width == 7) << f.width;
    EXPECT_EQ(f.y, 0);
    EXPECT_EQ(f.height, 4141);
    EXPECT_EQ(f.brush.style, 0);  // BS_SOLID
    const uint32_t grey = f.brush.color & 0xFF;
    EXPECT_EQ(f.brush.color, Grey(static_cast<int>(grey)));
    if (k == 0) {
      EXPECT_EQ(grey, 76u);
    }
    if (k == 59) {
      EXPECT_EQ(grey, 252u);
    }
    if (k > 0) {
      const int step = static_cast<int>(grey) - static_cast<int>(p.fills[k - 1].brush.color & 0xFF);
      EXPECT_TRUE(step == 3 || step == 2) << step;
      steps_of_two += step == 2;
    }
    x += f.width;
  }
  EXPECT_EQ(x, 380);
  EXPECT_EQ(steps_of_two, 1);

  ASSERT_EQ(p.outlines.size(), 1u);
  const Outline& o = p.outlines[0];
  EXPECT_EQ(o.left, 0);
  EXPECT_EQ(o.top, 0);
  EXPECT_EQ(o.right, 380);
  EXPECT_EQ(o.bottom, 4141);
  EXPECT_EQ(o.pen.style, 0);  // PS_SOLID
  EXPECT_LE(o.pen.width, 1);  // one pixel
  EXPECT_EQ(o.pen.color, Grey(76));
  EXPECT_EQ(o.brush.style, 1);  // BS_NULL: the bands stay as they are
}

}  // namespace
}  // namespace wendrix
