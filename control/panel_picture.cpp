#include "control/panel_picture.h"

#include <algorithm>
#include <initializer_list>

namespace wendrix {
namespace {

// Metafile record functions and constants.
constexpr uint16_t kMetaEof = 0x0000;
constexpr uint16_t kMetaSetMapMode = 0x0103;
constexpr uint16_t kMetaSetWindowOrg = 0x020B;
constexpr uint16_t kMetaSetWindowExt = 0x020C;
constexpr uint16_t kMetaSelectObject = 0x012D;
constexpr uint16_t kMetaDeleteObject = 0x01F0;
constexpr uint16_t kMetaCreatePenIndirect = 0x02FA;
constexpr uint16_t kMetaCreateBrushIndirect = 0x02FC;
constexpr uint16_t kMetaRectangle = 0x041B;
constexpr uint16_t kMetaPatBlt = 0x061D;

constexpr uint16_t kMmAnisotropic = 8;
constexpr uint16_t kBsSolid = 0;
constexpr uint16_t kBsNull = 1;
constexpr uint16_t kPsSolid = 0;
constexpr uint32_t kPatCopy = 0x00F00021;
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

constexpr uint32_t Grey(int level) {
  const auto v = static_cast<uint32_t>(level);
  return v | v << 8 | v << 16;
}

// The records, as 16-bit words, and the object slots they use.
class MetafileWriter {
 public:
  void Record(uint16_t function, std::initializer_list<uint16_t> params) {
    const auto size = static_cast<uint32_t>(3 + params.size());
    words_.push_back(static_cast<uint16_t>(size & 0xFFFF));
    words_.push_back(static_cast<uint16_t>(size >> 16));
    words_.push_back(function);
    words_.insert(words_.end(), params);
    max_record_ = std::max(max_record_, size);
  }

  // A created object takes the lowest free slot of the player's object table.
  int Create(uint16_t function, std::initializer_list<uint16_t> params) {
    Record(function, params);
    const auto free_slot = std::find(slots_.begin(), slots_.end(), false);
    const int slot = static_cast<int>(free_slot - slots_.begin());
    if (free_slot == slots_.end()) {
      slots_.push_back(true);
    } else {
      *free_slot = true;
    }
    return slot;
  }
  void Select(int slot) { Record(kMetaSelectObject, {static_cast<uint16_t>(slot)}); }
  void Delete(int slot) {
    Record(kMetaDeleteObject, {static_cast<uint16_t>(slot)});
    slots_[slot] = false;
  }

  int SolidBrush(uint32_t color) {
    return Create(kMetaCreateBrushIndirect, {kBsSolid, Low(color), High(color), 0});
  }

  std::vector<uint8_t> Finish() {
    Record(kMetaEof, {});
    std::vector<uint16_t> out;
    // Placeable header: key, handle, bounding box, units per inch, reserved, checksum.
    out.insert(
        out.end(),
        {Low(kPlaceableKey), High(kPlaceableKey), 0, 0, 0, static_cast<uint16_t>(panel::kWidth),
         static_cast<uint16_t>(panel::kHeight), static_cast<uint16_t>(panel::kUnitsPerInch), 0, 0});
    uint16_t checksum = 0;
    for (uint16_t w : out) checksum ^= w;
    out.push_back(checksum);
    // Metafile header: in memory, 9 words, version 3.0, size in words, objects, largest record.
    constexpr uint16_t kHeaderWords = 9;
    const auto total = static_cast<uint32_t>(kHeaderWords + words_.size());
    out.insert(out.end(),
               {1, kHeaderWords, 0x0300, Low(total), High(total),
                static_cast<uint16_t>(slots_.size()), Low(max_record_), High(max_record_), 0});
    out.insert(out.end(), words_.begin(), words_.end());
    std::vector<uint8_t> bytes;
    bytes.reserve(out.size() * 2);
    for (uint16_t w : out) {
      bytes.push_back(static_cast<uint8_t>(w & 0xFF));
      bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    return bytes;
  }

  static uint16_t Low(uint32_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
  static uint16_t High(uint32_t v) { return static_cast<uint16_t>(v >> 16); }

 private:
  std::vector<uint16_t> words_;
  std::vector<bool> slots_;
  uint32_t max_record_ = 0;
};

}  // namespace

int PanelBandLeft(int k) {
  // The nearest unit to k / 60 of the width: 20 bands of 7 and 40 of 6 units.
  return (2 * k * panel::kWidth + panel::kBands) / (2 * panel::kBands);
}

int PanelBandGrey(int k) {
  // The nearest level to k / 59 of the range: the one step of 2 falls in the middle.
  constexpr int kRange = panel::kLightest - panel::kDarkest;
  constexpr int kSteps = panel::kBands - 1;
  return panel::kDarkest + (2 * k * kRange + kSteps) / (2 * kSteps);
}

std::vector<uint8_t> PanelPicture() {
  using W = MetafileWriter;
  W mf;
  mf.Record(kMetaSetMapMode, {kMmAnisotropic});
  mf.Record(kMetaSetWindowOrg, {0, 0});  // y, x
  mf.Record(kMetaSetWindowExt, {panel::kHeight, panel::kWidth});
  // Bands are pattern fills: they tile the width exactly, with no outline and no gap even
  // where a band is narrower than a device pixel.
  int brush = -1;
  for (int k = 0; k < panel::kBands; ++k) {
    const int next = mf.SolidBrush(Grey(PanelBandGrey(k)));
    mf.Select(next);
    if (brush >= 0) mf.Delete(brush);
    brush = next;
    const int left = PanelBandLeft(k);
    const int width = PanelBandLeft(k + 1) - left;
    mf.Record(kMetaPatBlt, {W::Low(kPatCopy), W::High(kPatCopy), panel::kHeight,
                            static_cast<uint16_t>(width), 0, static_cast<uint16_t>(left)});
  }
  // The outline: a one-pixel pen (width 0 is one pixel whatever the scaling), hollow brush.
  const uint32_t outline = Grey(panel::kDarkest);
  mf.Select(mf.Create(kMetaCreatePenIndirect, {kPsSolid, 0, 0, W::Low(outline), W::High(outline)}));
  mf.Select(mf.Create(kMetaCreateBrushIndirect, {kBsNull, 0, 0, 0}));
  mf.Delete(brush);
  mf.Record(kMetaRectangle, {panel::kHeight, panel::kWidth, 0, 0});  // bottom, right, top, left
  // The pen and the hollow brush stay selected: the player restores the DC's own objects and
  // deletes what is left in its object table.
  return mf.Finish();
}

}  // namespace wendrix
