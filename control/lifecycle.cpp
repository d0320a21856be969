#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
Control::Control(const Platform& platform) : p_(platform) {}
void Control::Initialize() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::InitProperties() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::ReadProperties(PropertyBag&) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::WriteProperties(PropertyBag&) const { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::Resize() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_Enabled(Boolean) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::ApplyLayout() { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
