// BackColor, BackStyle and BorderStyle: no state of their own, they live on the surface.
// None of them looks at IsRecording or Enabled: the look may change at any time.
#include <limits>
#include <string>

#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// The surface holds the two styles as 16-bit Integers: a wider value overflows, and one that is
// not 0 or 1 is refused with the values the property takes, before the surface is touched.
int16_t StyleValue(const char* property, int32_t style) {
  if (style < std::numeric_limits<int16_t>::min() || style > std::numeric_limits<int16_t>::max()) {
    throw Error(errc::Overflow);
  }
  if (style != 0 && style != 1) {
    const std::string name = property;
    throw Error(
        errc::InvalidPropertyValue,
        "Invalid property value: a " + name + " of " + std::to_string(style) +
            " is not one the control takes (" +
            (name == "BackStyle" ? "0 TRANSPARENT or 1 OPAQUE" : "0 None or 1 FixedSingle") + ")");
  }
  return static_cast<int16_t>(style);
}

uint32_t Control::get_BackColor() const { return p_.surface.BackColor(); }

// PropertyChanged follows every successful set, also of the value already there; a value the
// surface refuses raises its error and is not reported as a change.
void Control::put_BackColor(uint32_t color) {
  p_.surface.SetBackColor(color);
  p_.container.PropertyChanged("BackColor");
}

int32_t Control::get_BackStyle() const { return p_.surface.BackStyle(); }

void Control::put_BackStyle(int32_t style) {
  p_.surface.SetBackStyle(StyleValue("BackStyle", style));
  p_.container.PropertyChanged("BackStyle");
}

int32_t Control::get_BorderStyle() const { return p_.surface.BorderStyle(); }

void Control::put_BorderStyle(int32_t style) {
  p_.surface.SetBorderStyle(StyleValue("BorderStyle", style));
  p_.container.PropertyChanged("BorderStyle");
}

}  // namespace wendrix
