// Stand-ins for the recording device and the file services until their Windows
// implementations (DirectSound capture, mmio files) are built: every call fails with a platform
// error that says so, which the control reports the way it reports any device or file failure.
#pragma once

#include "platform/capture.h"
#include "platform/files.h"

namespace wendrix::win32 {

class UnavailableCapture : public CaptureSystem {
 public:
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override;
};

class UnavailableFiles : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> CreateMultimediaFile(const std::string& path) override;
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path) override;
};

}  // namespace wendrix::win32
