// The tick handler of Timer1: the meter's cycle of five slices and the drain at its end.
#include "control/control.h"
#include "recording/flag_scope.h"

namespace wendrix {

void Control::Timer1_Timer() {
  // A tick inside a tick: a level-event handler that pumps messages, or the drain's report box,
  // let the host deliver one. It reads the ring (the watch counts exactly, so a read more does
  // no harm, and one less may cost audio) and leaves the meter's cycle, and its events, to the
  // tick it came into.
  // The header follows it too: a host killed while a report box is open leaves a file whose
  // sizes tell what reached it.
  if (s_.TickRunning != False) {
    if (s_.IsRecording != False) UpdateRecording();
    KeepHeaderCurrent();
    return;
  }
  FlagScope ticking(s_.TickRunning, True);
  if (s_.IsRecording != False) RemakeBufferThatNeverStarted();

  if (s_.MeterVisible == False) {
    // Without the meter every tick drains (the interval is five times longer then).
    if (s_.IsRecording != False) UpdateRecording();
    KeepHeaderCurrent();
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
  } else if (s_.IsRecording != False &&
             (s_.DrainRetry != False || s_.DrainBacklog != False || DrainOverdue())) {
    // A failed transfer is tried again at once, and a transfer the clock says is due runs
    // whatever the phase: a host that restarts the cycle (a refused Wendrix_Start) or held a
    // tick up must not let the device write over unread audio.
    UpdateRecording();
  }
  KeepHeaderCurrent();
}

}  // namespace wendrix
