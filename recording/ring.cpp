#include "recording/ring.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/error.h"

namespace wendrix {
namespace {

constexpr int32_t kDivisionByZero = 11;

// Nearest integer, ties to even: the rounding of every conversion to an integer type.
double Nearest(double value) { return std::nearbyint(value); }

int32_t ToLong(double value) {
  if (!(value >= std::numeric_limits<int32_t>::min() &&
        value <= std::numeric_limits<int32_t>::max())) {
    throw Error(errc::Overflow);
  }
  return static_cast<int32_t>(value);
}

}  // namespace

int64_t RingDistance(int64_t offset, int64_t read_position, int64_t ring_length) {
  if (read_position < offset) read_position += ring_length;
  return read_position - offset;
}

int64_t AdvanceRingOffset(int64_t offset, int64_t bytes, int64_t ring_length) {
  int64_t next = offset + bytes;
  if (next >= ring_length) next -= ring_length;
  return next;
}

RingSplit SplitRing(uint32_t offset, uint32_t bytes, uint32_t ring_length) {
  RingSplit split;
  const uint32_t to_end = offset < ring_length ? ring_length - offset : 0;
  split.first = bytes < to_end ? bytes : to_end;
  split.second = bytes - split.first;
  return split;
}

TickIntervals TickIntervalsFor(int32_t ring_bytes, int32_t bytes_per_second) {
  if (bytes_per_second == 0) throw Error(kDivisionByZero, "Division by zero");
  const double duration_ms =
      std::floor(static_cast<double>(ring_bytes) / bytes_per_second * 1000.0);
  TickIntervals intervals;
  intervals.meter_hidden = ToLong(Nearest(duration_ms / 2));
  intervals.meter_shown = ToLong(Nearest(intervals.meter_hidden / 5.0));
  intervals.meter_hidden = std::min(intervals.meter_hidden, kLongestDrainMilliseconds);
  intervals.meter_shown = std::min(intervals.meter_shown, kLongestDrainMilliseconds);
  return intervals;
}

int64_t DrainPeriodMicroseconds(int64_t ring_bytes, int64_t bytes_per_second) {
  if (bytes_per_second <= 0) return 0;
  return std::min<int64_t>(ring_bytes * 1000000 / bytes_per_second / 2,
                           int64_t{kLongestDrainMilliseconds} * 1000);
}

int64_t MinimumRingBytes(int64_t granularity_us, int64_t bytes_per_second, int32_t block_align) {
  if (granularity_us <= 0 || bytes_per_second <= 0) return 0;
  constexpr int64_t kTicksPerRing = 6;
  const int64_t bytes = (kTicksPerRing * granularity_us * bytes_per_second + 999999) / 1000000;
  const int64_t frame = block_align > 0 ? block_align : 1;
  return (bytes + frame - 1) / frame * frame;
}

int64_t MaximumRingBytes(int64_t bytes_per_second, int32_t block_align) {
  constexpr int64_t kTooLongMs = 131071;
  const int64_t bytes = (kTooLongMs * bytes_per_second - 1) / 1000;
  const int64_t frame = block_align > 0 ? block_align : 1;
  return bytes / frame * frame;
}

int32_t SampleWordsUpperBound(int64_t n) { return ToLong(Nearest(static_cast<double>(n) / 2 + 1)); }

int32_t SecondRegionWord(uint32_t first_size) {
  return ToLong(Nearest(static_cast<double>(first_size) / 2));
}

int64_t BytesThatFit(int64_t recorded, int64_t bytes, int32_t block_align) {
  const int64_t room = kMaxDataBytes - recorded;
  if (bytes <= room) return bytes;
  if (room <= 0) return 0;
  const int64_t frame = block_align > 0 ? block_align : 1;
  return room / frame * frame;
}

}  // namespace wendrix
