#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
Control::~Control() = default;
Boolean Control::Init_DSWendrix() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
Boolean Control::UnInit_DSWendrix() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
Boolean Control::Wendrix_Start(const std::string&) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
Boolean Control::Wendrix_Stop() { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
