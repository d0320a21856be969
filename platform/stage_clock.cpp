#include "platform/stage_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace wendrix::profile {
namespace detail {

int g_state = -1;

namespace {

constexpr const char* kNames[kStageCount] = {
    "tick",          "drain",       "watch_take",   "block",       "file_write",  "header",
    "meter_measure", "meter_paint", "meter_events", "face_notice", "window_paint"};

std::string& FileName() {
  static std::string name;
  return name;
}

std::vector<int64_t>& Samples(Stage stage) {
  static std::vector<int64_t> samples[kStageCount];
  return samples[stage];
}

}  // namespace

bool Decide() {
  const char* name = std::getenv("WENDRIX_PROFILE");
  SetProfileFile(name ? name : "");
  return g_state > 0;
}

void Record(Stage stage, int64_t nanoseconds) { Samples(stage).push_back(nanoseconds); }

}  // namespace detail

void SetProfileFile(const std::string& file) {
  detail::FileName() = file;
  detail::g_state = file.empty() ? 0 : 1;
  for (int s = 0; s < kStageCount; ++s) detail::Samples(static_cast<Stage>(s)).clear();
}

void WriteStageTable() {
  if (!On()) return;
  std::FILE* out = std::fopen(detail::FileName().c_str(), "a");
  if (!out) return;
  std::fprintf(out, "%-14s %7s %10s %10s %10s %12s\n", "stage", "count", "median_us", "p99_us",
               "mean_us", "total_ms");
  for (int s = 0; s < kStageCount; ++s) {
    std::vector<int64_t>& v = detail::Samples(static_cast<Stage>(s));
    if (v.empty()) continue;
    std::sort(v.begin(), v.end());
    int64_t total = 0;
    for (int64_t ns : v) total += ns;
    const auto at = [&](double q) {
      return static_cast<double>(v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]);
    };
    std::fprintf(out, "%-14s %7zu %10.1f %10.1f %10.1f %12.3f\n", detail::kNames[s], v.size(),
                 at(0.5) / 1e3, at(0.99) / 1e3, static_cast<double>(total) / v.size() / 1e3,
                 static_cast<double>(total) / 1e6);
    v.clear();
  }
  std::fclose(out);
}

}  // namespace wendrix::profile
