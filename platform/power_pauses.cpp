#include "platform/power_pauses.h"

#include <algorithm>

namespace wendrix {

void PowerPauses::Suspending(int64_t at) {
  std::lock_guard<std::mutex> hold(lock_);
  if (since_ < 0) since_ = at;
}

void PowerPauses::Resumed(int64_t at) {
  std::lock_guard<std::mutex> hold(lock_);
  if (since_ < 0) return;
  total_ += std::max<int64_t>(at - since_, 0);
  since_ = -1;
}

int64_t PowerPauses::PausedBy(int64_t now) const {
  std::lock_guard<std::mutex> hold(lock_);
  return total_ + (since_ >= 0 ? std::max<int64_t>(now - since_, 0) : 0);
}

}  // namespace wendrix
