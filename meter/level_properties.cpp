#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
Variant Control::get_dBLeft() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_dBLeft(const Variant&) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
Variant Control::get_dBRight() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_dBRight(const Variant&) { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
