#include "recording/format.h"

#include "platform/error.h"

namespace wendrix {

// TODO(build): not built yet.
bool IsAcceptedSampleRate(int32_t) { return false; }
bool IsAcceptedChannelCount(int32_t) { return false; }
bool IsAcceptedSampleBits(int32_t) { return false; }
WaveFormat DeriveDeviceFormat(int32_t, int32_t, int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }
int32_t OneSecondBytes(int32_t, int32_t, int32_t) { throw Error(errc::InvalidProcedureCall, "not built yet"); }

}  // namespace wendrix
