// Creation, the host's notifications (defaults, restore, save, resize), the layout routine and
// the Enabled flag.
#include "control/control.h"
#include "platform/error.h"

namespace wendrix {
namespace {

// The persisted-property defaults: the value and type handed to the bag on reading and on
// writing alike.
Variant DefaultEnabled() { return Variant::Bool(True); }
Variant DefaultBufferLength() { return Variant::Long(176400); }
Variant DefaultSamplesPerSecond() { return Variant::Long(44100); }
// The two channel and bit defaults are Integers, although their values are saved as Longs.
Variant DefaultNumChannels() { return Variant::Integer(2); }
Variant DefaultBitsPerSample() { return Variant::Integer(16); }
Variant DefaultAutoCalculateBuff() { return Variant::Bool(True); }
Variant DefaultBufferPosition() { return Variant::Integer(0); }
Variant DefaultBackColor() { return Variant::Long(0x808080); }
Variant DefaultBackStyle() { return Variant::Integer(0); }    // transparent
Variant DefaultBorderStyle() { return Variant::Integer(1); }  // fixed single
Variant DefaultShowVU() { return Variant::Bool(True); }
Variant DefaultShowVUScale() { return Variant::Bool(True); }
Variant DefaultLevel() { return Variant::Integer(-200); }  // no level measured yet

// A Boolean read from a bag is True or False whatever the bag held (a stored 1 reads as True,
// -1), so that every later test of the flag, exact or not, sees the same thing.
Boolean BooleanOf(const Variant& value) { return value.ToBoolean() != False ? True : False; }

constexpr int16_t kControlWidth = 1830;
constexpr int16_t kOneRowHeight = 255;
constexpr int16_t kTwoRowHeight = 510;

}  // namespace

// Every member starts at zero; the surface and elements keep their design values.
Control::Control(const Platform& platform) : p_(platform) {}

// All members are still zero, so the layout takes the meter-hidden branch: 1830 x 510.
void Control::Initialize() { ApplyLayout(); }

void Control::InitProperties() {
  s_.BufferBytes = 176400;
  s_.SampleRate = 44100;
  s_.ChannelCount = 2;
  s_.SampleBits = 16;
  s_.AutoBufferSize = True;
  s_.PositionValue = Variant::Integer(0);
  s_.MeterVisible = True;
  s_.ScaleVisible = True;
  ApplyLayout();
  s_.LevelLeftDb = Variant::Integer(-200);
  s_.LevelRightDb = Variant::Integer(-200);
  // IsEnabled is left False on purpose: a newly placed control starts disabled until the host
  // or the user enables it, and hosts rely on that.
}

// Members are assigned directly, without setters: nothing is validated or recalculated and
// the container hears no PropertyChanged. A failing read or conversion ends the restore there,
// leaving later members as they were and the layout of creation in place. The three values kept
// as read keep their Variant type too (a Date stays a Date); a Null, like any other value the
// coercion refuses, is a type mismatch.
void Control::ReadProperties(PropertyBag& bag) {
  s_.IsEnabled = BooleanOf(bag.ReadProperty("Enabled", DefaultEnabled()));
  s_.BufferBytes = bag.ReadProperty("BufferLength", DefaultBufferLength()).ToLong();
  s_.SampleRate = bag.ReadProperty("SamplesPerSecond", DefaultSamplesPerSecond()).ToLong();
  s_.ChannelCount = bag.ReadProperty("NumChannels", DefaultNumChannels()).ToLong();
  s_.SampleBits = bag.ReadProperty("BitsPerSample", DefaultBitsPerSample()).ToLong();
  s_.AutoBufferSize = BooleanOf(bag.ReadProperty("AutoCalculateBuff", DefaultAutoCalculateBuff()));
  s_.PositionValue = bag.ReadProperty("BufferPosition", DefaultBufferPosition());
  p_.surface.SetBackColor(
      static_cast<uint32_t>(bag.ReadProperty("BackColor", DefaultBackColor()).ToLong()));
  p_.surface.SetBackStyle(
      StyleValue("BackStyle", bag.ReadProperty("BackStyle", DefaultBackStyle()).ToInteger()));
  p_.surface.SetBorderStyle(
      StyleValue("BorderStyle", bag.ReadProperty("BorderStyle", DefaultBorderStyle()).ToInteger()));
  s_.MeterVisible = BooleanOf(bag.ReadProperty("ShowVU", DefaultShowVU()));
  s_.ScaleVisible = BooleanOf(bag.ReadProperty("ShowVUScale", DefaultShowVUScale()));
  ApplyLayout();
  s_.LevelLeftDb = bag.ReadProperty("dBLeft", DefaultLevel());
  s_.LevelRightDb = bag.ReadProperty("dBRight", DefaultLevel());
}

// Only reads: safe in any state, also while recording.
void Control::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty("Enabled", Variant::Bool(s_.IsEnabled), DefaultEnabled());
  bag.WriteProperty("BufferLength", Variant::Long(s_.BufferBytes), DefaultBufferLength());
  bag.WriteProperty("SamplesPerSecond", Variant::Long(s_.SampleRate), DefaultSamplesPerSecond());
  bag.WriteProperty("NumChannels", Variant::Long(s_.ChannelCount), DefaultNumChannels());
  bag.WriteProperty("BitsPerSample", Variant::Long(s_.SampleBits), DefaultBitsPerSample());
  bag.WriteProperty("AutoCalculateBuff", Variant::Bool(s_.AutoBufferSize),
                    DefaultAutoCalculateBuff());
  bag.WriteProperty("BufferPosition", s_.PositionValue, DefaultBufferPosition());
  bag.WriteProperty("BackColor", Variant::Long(static_cast<int32_t>(p_.surface.BackColor())),
                    DefaultBackColor());
  bag.WriteProperty("BackStyle", Variant::Integer(p_.surface.BackStyle()), DefaultBackStyle());
  bag.WriteProperty("BorderStyle", Variant::Integer(p_.surface.BorderStyle()),
                    DefaultBorderStyle());
  bag.WriteProperty("ShowVU", Variant::Bool(s_.MeterVisible), DefaultShowVU());
  bag.WriteProperty("ShowVUScale", Variant::Bool(s_.ScaleVisible), DefaultShowVUScale());
  bag.WriteProperty("dBLeft", s_.LevelLeftDb, DefaultLevel());
  bag.WriteProperty("dBRight", s_.LevelRightDb, DefaultLevel());
}

// The control keeps its own size: whatever the host asked for is replaced at once. The nested
// Resize the surface may send sets the same values again and changes nothing.
void Control::Resize() {
  p_.surface.SetWidth(static_cast<float>(s_.ControlWidth));
  p_.surface.SetHeight(static_cast<float>(s_.ControlHeight));
}

void Control::put_Enabled(Boolean value) {
  // Switching Enabled off in the middle of a recording would strand it: the change is ignored.
  if (s_.IsRecording != False) return;
  s_.IsEnabled = value;
  p_.container.PropertyChanged("Enabled");
}

void Control::ApplyLayout() {
  ApplyMeterVisibility();
  s_.ControlWidth = kControlWidth;
  // One channel with the meter shown needs only the upper row.
  s_.ControlHeight =
      (s_.MeterVisible != False && s_.ChannelCount == 1) ? kOneRowHeight : kTwoRowHeight;
  Resize();
}

}  // namespace wendrix
