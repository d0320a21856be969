#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
void Control::MeterSlice(float) { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
