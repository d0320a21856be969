#include "control/control.h"
#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
void Control::put_SamplesPerSecond(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_NumChannels(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BitsPerSample(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BufferLength(int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_AutoCalculateBuff(Boolean) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
Variant Control::get_BufferPosition() { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::put_BufferPosition(const Variant&) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::FormatChanged(const char*, bool) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
void Control::RefuseSet() const { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
