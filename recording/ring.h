// Pure arithmetic of the recorder: distances on the ring buffer and the two regions of a
// locked range, the tick interval of Timer1, the bounds of the sample block, and the size
// limit of the data chunk. The operations that change the control's state call these.
#pragma once

#include <cstdint>

namespace wendrix {

// Bytes from `offset` up to `read_position` on a ring of `ring_length` bytes: when the read
// position lies before the offset the device has wrapped, and the ring length is added.
// Both positions are expected in 0 .. ring_length - 1; the result is then below the ring length.
int64_t RingDistance(int64_t offset, int64_t read_position, int64_t ring_length);

// The offset after `bytes` more were taken from `offset`: the ring length is subtracted once
// when the sum reaches it.
int64_t AdvanceRingOffset(int64_t offset, int64_t bytes, int64_t ring_length);

// The two regions of `bytes` bytes from `offset`: the first runs to the ring's end at most,
// the second (empty unless the range wraps) continues at offset 0.
struct RingSplit {
  uint32_t first = 0;
  uint32_t second = 0;
};
RingSplit SplitRing(uint32_t offset, uint32_t bytes, uint32_t ring_length);

// The longest a drain period lasts, whatever the ring's length: the file and its header follow
// the audio at least once a second (the watch saves what a long ring would otherwise hold).
inline constexpr int32_t kLongestDrainMilliseconds = 500;

// Timer1's interval for a ring of `ring_bytes` at `bytes_per_second`: the ring's duration in
// milliseconds with its fraction dropped, halved and rounded to the nearest integer (ties to
// even), so that the timer ticks twice per ring; while the meter is shown a fifth of that,
// rounded the same way, since then only every fifth tick drains. Neither is longer than
// kLongestDrainMilliseconds. Throws Error 11 for a byte
// rate of 0 and Error 6 when the interval does not fit 32 bits. The result may be 0 or
// negative; the caller decides what to do with such a ring.
struct TickIntervals {
  int32_t meter_hidden = 0;
  int32_t meter_shown = 0;
};
TickIntervals TickIntervalsFor(int32_t ring_bytes, int32_t bytes_per_second);

// The time a drain period lasts, in microseconds: half the ring's duration, at most
// kLongestDrainMilliseconds.
int64_t DrainPeriodMicroseconds(int64_t ring_bytes, int64_t bytes_per_second);

// The shortest ring a timer whose ticks come at best every `granularity_us` can serve without
// loss: a transfer may come a tick after its drain period, and the ring must then still hold
// two more ticks, so the drain period must span three ticks (the ring six). Rounded up to whole
// frames of `block_align` bytes; 0 when the timer keeps any interval (granularity 0).
int64_t MinimumRingBytes(int64_t granularity_us, int64_t bytes_per_second, int32_t block_align);

// The longest ring the control takes: just under 131071 ms of audio (once the longest whose half
// a timer could wait; the drain now comes at least every half second, and the limit stays so that
// a ring of minutes is still refused as a mistake), in whole frames of `block_align` bytes.
int64_t MaximumRingBytes(int64_t bytes_per_second, int32_t block_align);

// The upper bound of SampleWords after a transfer of n bytes: n / 2 + 1 rounded to the
// nearest integer (ties to even). So n = 8 gives 5 (six words, the last two zero) and n = 5
// gives 4.
int32_t SampleWordsUpperBound(int64_t n);

// The word of SampleWords where the second region of a transfer lands: half the first
// region's size, rounded to the nearest integer (ties to even). An even first region is
// followed without a gap; a first region of 5 bytes puts the second over its fifth byte
// (word 2), one of 7 bytes after a zero byte (word 4).
int32_t SecondRegionWord(uint32_t first_size);

// The most sample bytes a data chunk may hold: the RIFF size, data size + 38, must fit a
// signed 32-bit field.
inline constexpr int64_t kMaxDataBytes = 2147483647 - 38;  // 2,147,483,609

// How many of `bytes` may still be appended when `recorded` are in the file: all of them when
// they fit under kMaxDataBytes, else the whole frames of `block_align` bytes that do.
int64_t BytesThatFit(int64_t recorded, int64_t bytes, int32_t block_align);

}  // namespace wendrix
