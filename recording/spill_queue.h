// The spill: audio the position watch saved from the ring buffer because the drain had not
// come for it in time (a host whose thread is busy), kept in memory in the order it was
// recorded until the drain writes it. Blocks are allocated as it grows and freed as they are
// handed over; it holds at most a budget of bytes, and an allocation that fails counts as a full
// budget.
//
// Not thread-safe on its own: the position watch guards it with its lock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>

namespace wendrix {

class SpillQueue {
 public:
  // What the ring wrote over before the watch could save the bytes that follow it.
  struct Loss {
    int64_t bytes = 0;
    bool at_least = false;     // counted by the clock: at least that much
    bool reset = false;        // it came from positions that started over
    bool spill_full = false;   // it came when the spill had no room left
    int64_t saved_before = 0;  // and the spill then held this many bytes
  };
  // One saved block, with the loss that came before its bytes.
  struct Block {
    std::unique_ptr<uint8_t[]> data;
    int64_t size = 0;
    Loss before;
  };

  explicit SpillQueue(int64_t budget_bytes) : budget_(budget_bytes) {}

  // Saves the `first` and `second` regions (in that order) as one block after what is held,
  // with the loss before them (a block of no bytes holds only a loss). Returns false, holding
  // nothing of them, when the budget or the memory has no room for both.
  bool Push(const uint8_t* first, int64_t first_size, const uint8_t* second, int64_t second_size,
            const Loss& before);

  // Hands over the oldest blocks, in order, until they hold `most` bytes or more (or all there
  // are): at most one block more than `most`.
  std::deque<Block> TakeFront(int64_t most);

  // How many more bytes the budget and the memory there is said to be leave room for.
  int64_t Room() const { return std::max<int64_t>(std::min(budget_, memory_limit_) - bytes_, 0); }
  int64_t bytes() const { return bytes_; }
  bool empty() const { return blocks_.empty(); }
  // The most bytes it held at once since it was made.
  int64_t peak_bytes() const { return peak_; }
  // For tests: allocations that would bring the bytes held beyond `bytes` fail, as they would
  // on a machine out of memory.
  void LimitMemory(int64_t bytes) { memory_limit_ = bytes; }

 private:
  const int64_t budget_;
  int64_t memory_limit_ = INT64_MAX;
  int64_t bytes_ = 0;
  int64_t peak_ = 0;
  std::deque<Block> blocks_;
};

}  // namespace wendrix
