// Counts changes of the system's default recording device, as Windows reports them to an
// IMMNotificationClient. Windows calls the client on a thread of its own: the client only
// counts, the recorder reads the count on its thread.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <mmdeviceapi.h>

#include <cstdint>

namespace wendrix::win32 {

class DefaultDeviceWatch {
 public:
  // Registers with the endpoint enumerator of the calling thread's apartment; where there is
  // none (or it refuses) the count stays 0.
  DefaultDeviceWatch();
  // Unregisters when the last watch of the process ends.
  ~DefaultDeviceWatch();
  DefaultDeviceWatch(const DefaultDeviceWatch&) = delete;
  DefaultDeviceWatch& operator=(const DefaultDeviceWatch&) = delete;

  // Changes of the default capture device (the console role) since the watch began.
  uint32_t changes() const;

 private:
  bool registered_ = false;
  uint32_t start_ = 0;
};

}  // namespace wendrix::win32
