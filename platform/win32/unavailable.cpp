#include "platform/win32/unavailable.h"

#include "platform/error.h"

namespace wendrix::win32 {
namespace {

constexpr uint32_t kNotImplemented = 0x80004001;  // E_NOTIMPL

}  // namespace

std::shared_ptr<CaptureDevice> UnavailableCapture::CreateDefaultDevice() {
  throw Error::Platform(kNotImplemented,
                        "DirectSoundCaptureCreate: recording is not available in this build");
}

std::unique_ptr<MultimediaFile> UnavailableFiles::CreateMultimediaFile(const std::string& path) {
  throw Error::Platform(kNotImplemented,
                        "mmioOpen: files are not available in this build: " + path);
}

std::unique_ptr<BinaryFile> UnavailableFiles::OpenBinaryFile(const std::string& path) {
  throw Error::Platform(kNotImplemented,
                        "CreateFile: files are not available in this build: " + path);
}

}  // namespace wendrix::win32
