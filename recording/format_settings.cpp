// The format and buffer properties: SamplesPerSecond, NumChannels, BitsPerSample, BufferLength,
// AutoCalculateBuff and BufferPosition.
#include "control/control.h"
#include "platform/error.h"
#include "recording/format.h"

namespace wendrix {

// A value outside the property's list is ignored without a word: hosts set these from their
// own combo boxes and expect no error from them.
void Control::put_SamplesPerSecond(int32_t value) {
  if (!IsAcceptedSampleRate(value)) return;
  s_.SampleRate = value;
  FormatChanged("SamplesPerSecond", false);
}

void Control::put_NumChannels(int32_t value) {
  if (!IsAcceptedChannelCount(value)) return;
  s_.ChannelCount = value;
  FormatChanged("NumChannels", true);  // the meter's height follows the channel count
}

void Control::put_BitsPerSample(int32_t value) {
  if (!IsAcceptedSampleBits(value)) return;
  s_.SampleBits = value;
  FormatChanged("BitsPerSample", false);
}

// Also runs for a value equal to the old one: it is a full change.
void Control::FormatChanged(const char* property_name, bool relayout) {
  p_.container.PropertyChanged(property_name);
  s_.ReinitPending = True;
  // A running recording keeps the format it started with; Wendrix_Stop re-creates the recorder.
  if (s_.IsRecording != False) return;
  if (s_.AutoBufferSize != False) {
    s_.BufferBytes = OneSecondBytes(s_.SampleRate, s_.ChannelCount, s_.SampleBits);
  }
  if (relayout) ApplyLayout();
  if (s_.DeviceReady != False) {
    UnInit_DSWendrix();
    Init_DSWendrix();
  }
}

// The new length is used from the next Init_DSWendrix on; nothing is re-created here.
void Control::put_BufferLength(int32_t value) {
  if (s_.IsRecording != False) return;
  // With the automatic length the argument is replaced by one second of the format in force
  // at the last Init_DSWendrix (0 before the first).
  if (s_.AutoBufferSize != False) value = s_.DeviceFormat.nAvgBytesPerSec;
  if (get_Enabled() == False) return;
  s_.BufferBytes = value;
  p_.container.PropertyChanged("BufferLength");
}

// Nothing is recomputed now: the flag acts at the next format change or Init_DSWendrix.
void Control::put_AutoCalculateBuff(Boolean value) {
  s_.AutoBufferSize = value;
  p_.container.PropertyChanged("AutoCalculateBuff");
}

Variant Control::get_BufferPosition() {
  if (s_.IsRecording != False) {
    // A recording without a ring buffer (released by UnInit_DSWendrix meanwhile) has no
    // position to report.
    if (!s_.RecorderBuffer) {
      throw Error(errc::ObjectNotSet);
    }
    int32_t device_position = 0;
    int32_t read_position = 0;
    s_.RecorderBuffer->GetCurrentPosition(device_position, read_position);
    s_.PositionValue = Variant::Long(device_position);
  } else {
    s_.PositionValue = Variant::Integer(0);
  }
  return s_.PositionValue;
}

void Control::put_BufferPosition(const Variant&) { RefuseSet(); }

void Control::RefuseSet() const {
  if (!p_.container.AmbientUserMode()) throw Error(errc::SetNotPermitted);
  throw Error(errc::SetNotSupportedAtRuntime);
}

}  // namespace wendrix
