#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
uint32_t Control::get_BackColor() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BackColor(uint32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
int32_t Control::get_BackStyle() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BackStyle(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
int32_t Control::get_BorderStyle() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BorderStyle(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
