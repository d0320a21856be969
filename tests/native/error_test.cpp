#include "platform/error.h"

#include <gtest/gtest.h>

namespace wendrix {
namespace {

TEST(Error, RuntimeErrorsTravelAsControlHResults) {
  const Error e(errc::SetNotSupportedAtRuntime);
  EXPECT_EQ(e.number(), 382);
  EXPECT_EQ(e.hresult(), 0x800A017Eu);
  EXPECT_EQ(e.description(), "Set not supported at runtime");
  EXPECT_EQ(Error(errc::SetNotPermitted).description(), "Set not permitted");
  EXPECT_EQ(Error(errc::Overflow).description(), "Overflow");
  EXPECT_EQ(Error(errc::TypeMismatch).description(), "Type mismatch");
}

TEST(Error, PlatformErrorsKeepTheirHResult) {
  const Error e = Error::Platform(0x88780032u, "DirectSoundCaptureCreate: no driver");
  EXPECT_EQ(e.hresult(), 0x88780032u);
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x88780032u));
  EXPECT_EQ(e.description(), "DirectSoundCaptureCreate: no driver");
}

}  // namespace
}  // namespace wendrix
