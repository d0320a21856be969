// The guide's table of device errors (docs/reference.md) against the texts the control gives
// them: each row's name is the one the description carries, and its Err.Number the HRESULT as a
// host sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../native/guide_table.h"
#include "platform/device_errors.h"
#include "platform/win32/system_error.h"

namespace wendrix::win32 {
namespace {

TEST(GuideTables, DeviceErrorsHaveTheNamesTheControlGives) {
  const auto rows = test::Table(test::Page("reference.md"), "HRESULT | `Err.Number` | Name");
  ASSERT_FALSE(rows.empty()) << "reference.md: no device error table";
  // Every failure the control names a gone device, where it has a DirectSound name, is a row.
  for (const uint32_t code : kDeviceGoneCodes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", code);
    const std::string text = HResultText(static_cast<HRESULT>(code));
    if (text.find(std::string(" (") + hex + "): ") == std::string::npos) continue;  // unnamed
    EXPECT_TRUE(
        std::any_of(rows.begin(), rows.end(), [&](const test::Row& r) { return r.at(0) == hex; }))
        << "reference.md: no device error row for " << text;
  }
  for (const test::Row& row : rows) {
    SCOPED_TRACE("reference.md, device error row " + row.at(0));
    const auto hr = static_cast<uint32_t>(std::stoul(row.at(0), nullptr, 16));
    EXPECT_EQ(std::stol(row.at(1)), static_cast<int32_t>(hr));
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", hr);
    const std::string text = HResultText(static_cast<HRESULT>(hr));
    EXPECT_EQ(text.rfind(test::Unquote(row.at(2)) + " (" + hex + "): ", 0), 0u) << text;
  }
}

}  // namespace
}  // namespace wendrix::win32
