#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
void Control::put_ShowVU(Boolean) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_ShowVUScale(Boolean) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::ApplyMeterVisibility() { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
