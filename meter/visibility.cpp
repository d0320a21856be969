// ShowVU, ShowVUScale and the visibility step of the layout: the LED rows and lamps, or the
// grey panel in their place.
#include "control/control.h"
#include "control/elements.h"

namespace wendrix {

void Control::put_ShowVU(Boolean value) {
  s_.MeterVisible = value;
  p_.container.PropertyChanged("ShowVU");
  s_.ReinitPending = True;
  ApplyLayout();
  ApplyTickInterval();  // keeps the drain period at half the ring's duration
}

// Nothing depends on the scale setting; it is stored, saved and re-lays the control out.
void Control::put_ShowVUScale(Boolean value) {
  s_.ScaleVisible = value;
  p_.container.PropertyChanged("ShowVUScale");
  s_.ReinitPending = True;
  ApplyLayout();
}

// No colour changes here: shown again, the LEDs and lamps show the colours last given them.
// Both rows are shown whatever the channel count; in mono the height hides the lower one.
void Control::ApplyMeterVisibility() {
  const bool meter = s_.MeterVisible != False;
  p_.elements.SetVisible(element::Picture1, !meter);
  for (int i = 0; i < kLedCount; ++i) {
    p_.elements.SetVisible(LEDLeft(i), meter);
    p_.elements.SetVisible(LEDRight(i), meter);
  }
  p_.elements.SetVisible(element::LEDOverflowLeft, meter);
  p_.elements.SetVisible(element::LEDOverflowRight, meter);
}

}  // namespace wendrix
