// MeterSlice: one tick of the level meter. Between two drains the meter walks through the
// block of the previous drain in five slices, one per tick; each slice gives a peak per
// channel, a level in dB, the painted banks, the level events and the stored levels.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "control/control.h"
#include "meter/level.h"
#include "platform/error.h"
#include "platform/stage_clock.h"

namespace wendrix {
namespace {

struct Peaks {
  int32_t left = 0;
  int32_t right = 0;
};

void Update(int32_t& peak, int32_t magnitude) {
  if (magnitude > peak) peak = magnitude;
}

// 16-bit audio, read in place from the word view of the block (n = its last index). In a
// stereo recording even word positions are the first sample of a frame (left) and odd ones
// the second (right); the slice's pairs start at odd positions, so the second word of each
// pair goes left.
Peaks MeasureWords(const std::vector<int16_t>& words, float p, bool stereo) {
  const auto n = static_cast<int32_t>(words.size() - 1);
  const WordSlice slice = SliceOfWords(p, n);
  Peaks peaks;
  if (slice.first > slice.last) return peaks;
  const int64_t last_pair = slice.first + (int64_t{slice.last} - slice.first) / 2 * 2;
  if (slice.first < 0 || last_pair + 1 > n) throw Error(errc::BadIndex);
  for (int64_t i = slice.first; i <= last_pair; i += 2) {
    const int32_t odd = MagnitudeOfWord(words[i]);
    const int32_t even = MagnitudeOfWord(words[i + 1]);
    if (stereo) {
      Update(peaks.right, odd);
      Update(peaks.left, even);
    } else {
      Update(peaks.left, odd);
      Update(peaks.left, even);
    }
  }
  return peaks;
}

// 8-bit audio, read from the byte view of the block frame by frame: the first byte of a frame
// is the left sample, the second the right. The drain's block ends in one byte that is not
// audio.
Peaks MeasureBytes(const std::vector<uint8_t>& bytes, float p, int channels) {
  const int64_t audio = static_cast<int64_t>(bytes.size()) - 1;
  const FrameSlice slice = SliceOfFrames(p, audio / channels);
  Peaks peaks;
  for (int64_t f = slice.begin; f < slice.end; ++f) {
    const uint8_t* frame = bytes.data() + f * channels;
    Update(peaks.left, MagnitudeOfByte(frame[0]));
    if (channels == 2) Update(peaks.right, MagnitudeOfByte(frame[1]));
  }
  return peaks;
}

// Runs one step; a failing step is abandoned and the slice goes on without a report.
template <typename Step>
void Try(Step&& step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

// The channel layout of the recording (DeviceFormat) decides the peak split, the right level
// and the right bank; NumChannels decides dBOnChangeRight, dBRight and the right lamp. Both
// events are raised before either level is stored, so a handler reads the previous levels.
void Control::MeterSlice(float p) {
  const bool eight_bit = s_.DeviceFormat.wBitsPerSample == 8;
  if (s_.MeterDataReady == False || s_.MeterVisible == False) return;
  if (!eight_bit) MakeSampleWords();
  if (eight_bit ? s_.SampleBytes.empty() : s_.SampleWords.size() <= 1) return;

  const bool stereo = s_.DeviceFormat.nChannels == 2;
  std::optional<profile::Scope> stage(std::in_place, profile::kMeterMeasure);
  Peaks peaks;
  Try([&] {
    peaks = eight_bit ? MeasureBytes(s_.SampleBytes, p, stereo ? 2 : 1)
                      : MeasureWords(s_.SampleWords, p, stereo);
  });

  const int32_t full_scale = eight_bit ? 127 : 32767;
  Currency left{0};
  Currency right{0};
  if (peaks.left != 0) Try([&] { left = LevelOfPeak(peaks.left, full_scale); });
  if (stereo && peaks.right != 0) Try([&] { right = LevelOfPeak(peaks.right, full_scale); });
  if (peaks.right == 0) right = kSilenceLevel;
  if (peaks.left == 0) left = kSilenceLevel;

  stage.emplace(profile::kMeterPaint);
  Try([&] { PaintBar(Bank::Left, left); });
  if (stereo) Try([&] { PaintBar(Bank::Right, right); });
  stage.emplace(profile::kMeterEvents);

  // A handler that stops the recording (or releases the recorder) has had the meter cleared:
  // nothing of this slice may light it again or come after OnStop.
  const uint32_t serial = s_.RecordingSerial;
  const Boolean recording = s_.IsRecording;
  const auto ended = [&] { return s_.RecordingSerial != serial || s_.IsRecording != recording; };
  Try([&] { p_.container.RaiseEvent(Event::dBOnChangeLeft); });
  if (ended()) return;
  if (s_.ChannelCount == 2) {
    Try([&] { p_.container.RaiseEvent(Event::dBOnChangeRight); });
    if (ended()) return;
    s_.LevelRightDb = Variant::Cy(right);
    if (right > kLampThreshold) Try([&] { LightLamp(Bank::Right); });
  }
  s_.LevelLeftDb = Variant::Cy(left);
  if (left > kLampThreshold) Try([&] { LightLamp(Bank::Left); });
}

}  // namespace wendrix
