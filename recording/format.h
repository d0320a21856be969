// Pure rules of the recording format: the wave-format record derived from the format
// properties, and the ring length of one second of audio.
#pragma once

#include <cstdint>

#include "platform/wave_format.h"

namespace wendrix {

// The accepted values of the format properties.
bool IsAcceptedSampleRate(int32_t value);   // 11025, 22050, 44100
bool IsAcceptedChannelCount(int32_t value);  // 1, 2
bool IsAcceptedSampleBits(int32_t value);    // 8, 16

// The ring lengths the capture device takes: at least one sample frame, at most 0x0FFFFFFF
// bytes (DSCBSIZE_MAX).
inline constexpr int32_t kLargestRing = 0x0FFFFFFF;

// Refuses, before any device call, a format the recorder must not hand the device: a rate,
// channel count or sample width outside the twelve supported formats (a restored form may hold
// anything), or, with AutoCalculateBuff off, a BufferLength the device cannot take. Throws
// Error 380 "Invalid property value" naming the property and its value.
void CheckDeviceFormat(int32_t sample_rate, int32_t channel_count, int32_t sample_bits,
                       bool auto_buffer_size, int32_t buffer_bytes);

// The PCM record for the given properties: PCM tag, channels and bits as 16-bit values, block
// align and average byte rate as the format properties give them; cbSize 0. Throws Error 6
// when a value does not fit its field.
WaveFormat DeriveDeviceFormat(int32_t sample_rate, int32_t channel_count, int32_t sample_bits);

// Bytes in one second of audio: bits / 8 x (channels x rate), the product in 32 bits and the
// rest in floating point, rounded to the nearest integer (ties to even). Throws Error 6 on
// overflow.
int32_t OneSecondBytes(int32_t sample_rate, int32_t channel_count, int32_t sample_bits);

}  // namespace wendrix
