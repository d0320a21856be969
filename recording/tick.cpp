// The tick handler of Timer1: the meter's cycle of five slices and the drain at its end.
#include "control/control.h"

namespace wendrix {

void Control::Timer1_Timer() {
  if (s_.MeterVisible == False) {
    // Without the meter every tick drains (the interval is five times longer then).
    if (s_.IsRecording != False) UpdateRecording();
    return;
  }
  // The phase is kept in single precision and stepped through double, so that it passes the
  // floats nearest 0.2, 0.4, 0.6 and 0.8 and lands on 1.0 exactly on the fifth tick.
  s_.TickPhase = static_cast<float>(static_cast<double>(s_.TickPhase) + 0.2);
  MeterSlice(s_.TickPhase);
  // The meter has just read the last fifth of the previous block: now the drain replaces it.
  // A host's level-event handler may have stopped the recording meanwhile, which also put the
  // phase back to 0.
  if (s_.TickPhase == 1.0f) {
    if (s_.IsRecording != False) UpdateRecording();
    s_.TickPhase = 0;
  } else if (s_.DrainRetry != False && s_.IsRecording != False) {
    // A failed transfer is tried again at once: waiting for the fifth tick would let the
    // device write a whole ring meanwhile.
    UpdateRecording();
  }
}

}  // namespace wendrix
