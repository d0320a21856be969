#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
void Control::WriteWaveHeader() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::CreateDataChunk() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::FinishWaveFile() { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
