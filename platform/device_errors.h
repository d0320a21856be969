// The failures with which a recording device says it is gone: unplugged, disabled, its driver
// or the audio service stopped. A recording cannot go on through them; the control names them
// in plain words instead of a bare code.
#pragma once

#include <cstdint>

namespace wendrix {

inline constexpr uint32_t kAudclntDeviceInvalidated = 0x88890004u;    // AUDCLNT_E_DEVICE_INVALIDATED
inline constexpr uint32_t kAudclntServiceNotRunning = 0x88890010u;    // AUDCLNT_E_SERVICE_NOT_RUNNING
inline constexpr uint32_t kAudclntResourcesInvalidated = 0x88890026u;  // AUDCLNT_E_RESOURCES_INVALIDATED
inline constexpr uint32_t kDsErrNoDriver = 0x88780078u;   // DSERR_NODRIVER
inline constexpr uint32_t kDsErrBufferLost = 0x88780096u; // DSERR_BUFFERLOST
inline constexpr uint32_t kDeviceNotConnected = 0x8007048Fu;  // HRESULT of ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kDevNotExist = 0x80070037u;         // HRESULT of ERROR_DEV_NOT_EXIST

// Told with any failure to open or start the device, and when a new take's first seconds are
// exact digital silence: what Windows 10 and later do to a microphone kept from desktop
// programs, whatever code the driver gives for it.
inline constexpr const char kMicrophonePrivacyHint[] =
    "on Windows 10 and later, also check that Settings > Privacy & security > Microphone lets "
    "desktop apps use the microphone";

// Every failure with which a device says it is gone.
inline constexpr uint32_t kDeviceGoneCodes[] = {
    kAudclntDeviceInvalidated, kAudclntServiceNotRunning, kAudclntResourcesInvalidated,
    kDsErrNoDriver, kDsErrBufferLost, kDeviceNotConnected, kDevNotExist};

constexpr bool IsDeviceGone(uint32_t hresult) {
  for (const uint32_t code : kDeviceGoneCodes) {
    if (code == hresult) return true;
  }
  return false;
}

}  // namespace wendrix
