#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
void Control::LEDOverflowLeft_Click() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::LEDOverflowRight_Click() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::PaintBar(Bank, Currency) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::ClearLeftMeter() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::ClearRightMeter() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::LightLamp(Bank) { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
