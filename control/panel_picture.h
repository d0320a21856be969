// The panel picture of Picture1: a placeable Windows metafile of a horizontal grey gradient,
// 380 x 4141 twips, that stands in for the meter when the meter is hidden. The bytes are
// built here; resources/panel_picture_gen writes them to resources/panel.wmf, which the
// module embeds.
#pragma once

#include <cstdint>
#include <vector>

namespace wendrix {

namespace panel {
inline constexpr int kWidth = 380;  // units of the bounding box, 1440 per inch (twips)
inline constexpr int kHeight = 4141;
inline constexpr int kUnitsPerInch = 1440;
inline constexpr int kBands = 60;
inline constexpr int kDarkest = 76;    // grey level of the left band and of the outline
inline constexpr int kLightest = 252;  // grey level of the right band
}  // namespace panel

// Left edge of band `k` (0..60; band k spans [BandLeft(k), BandLeft(k + 1))): 6 or 7 units.
int PanelBandLeft(int k);
// Grey level (red = green = blue) of band `k`: rises by 3 per band, once by 2.
int PanelBandGrey(int k);

// The whole file: the 22-byte placeable header, the metafile header and the records.
std::vector<uint8_t> PanelPicture();

}  // namespace wendrix
