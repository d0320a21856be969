#include "recording/spill_queue.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace wendrix {

bool SpillQueue::Push(const uint8_t* first, int64_t first_size, const uint8_t* second,
                      int64_t second_size, const Loss& before) {
  const int64_t size = first_size + second_size;
  if (size > Room()) return false;
  Block block;
  if (size > 0) {
    block.data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!block.data) return false;
  }
  if (first_size > 0) std::memcpy(block.data.get(), first, static_cast<size_t>(first_size));
  if (second_size > 0) {
    std::memcpy(block.data.get() + first_size, second, static_cast<size_t>(second_size));
  }
  block.size = size;
  block.before = before;
  try {
    blocks_.push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    return false;
  }
  bytes_ += size;
  peak_ = std::max(peak_, bytes_);
  return true;
}

std::deque<SpillQueue::Block> SpillQueue::TakeFront(int64_t most) {
  std::deque<Block> taken;
  int64_t size = 0;
  while (!blocks_.empty() && size < most) {
    size += blocks_.front().size;
    taken.push_back(std::move(blocks_.front()));
    blocks_.pop_front();
  }
  bytes_ -= size;
  return taken;
}

}  // namespace wendrix
