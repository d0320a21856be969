// BackColor, BackStyle and BorderStyle: no state of their own, they live on the surface.
// None of them looks at IsRecording or Enabled: the look may change at any time.
#include <limits>

#include "control/control.h"
#include "platform/error.h"

namespace wendrix {
namespace {

// The surface holds the two styles as 16-bit Integers; a wider value overflows before the
// surface is touched.
int16_t ToSurfaceStyle(int32_t style) {
  if (style < std::numeric_limits<int16_t>::min() || style > std::numeric_limits<int16_t>::max()) {
    throw Error(errc::Overflow);
  }
  return static_cast<int16_t>(style);
}

}  // namespace

uint32_t Control::get_BackColor() const { return p_.surface.BackColor(); }

// PropertyChanged follows every successful set, also of the value already there; a value the
// surface refuses raises its error and is not reported as a change.
void Control::put_BackColor(uint32_t color) {
  p_.surface.SetBackColor(color);
  p_.container.PropertyChanged("BackColor");
}

int32_t Control::get_BackStyle() const { return p_.surface.BackStyle(); }

void Control::put_BackStyle(int32_t style) {
  p_.surface.SetBackStyle(ToSurfaceStyle(style));
  p_.container.PropertyChanged("BackStyle");
}

int32_t Control::get_BorderStyle() const { return p_.surface.BorderStyle(); }

void Control::put_BorderStyle(int32_t style) {
  p_.surface.SetBorderStyle(ToSurfaceStyle(style));
  p_.container.PropertyChanged("BorderStyle");
}

}  // namespace wendrix
