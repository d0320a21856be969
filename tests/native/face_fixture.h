// A control on the simulated host for the tests of the control's face (elements, LED banks,
// visibility). There is no recording device and no file system: nothing here records.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/control.h"
#include "control/elements.h"
#include "platform/error.h"
#include "platform/sim/sim_host.h"

namespace wendrix::face_test {

class NoCapture : public CaptureSystem {
 public:
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    throw Error::Platform(0x88780078u, "DirectSoundCaptureCreate: no driver");
  }
};

class NoFiles : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> CreateMultimediaFile(const std::string& path) override {
    throw Error(75, "cannot create " + path);
  }
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path) override {
    throw Error(75, "cannot open " + path);
  }
};

struct Face {
  sim::SimHost host;
  NoCapture capture;
  NoFiles files;
  Control control{Platform{host, host, host, host, capture, files}};

  ControlState& s() { return control.state(); }
  // The calls the host has seen from now on start at the returned mark.
  size_t Mark() const { return host.calls.size(); }
};

// The log line of a colour assignment, as the sim host writes it.
inline std::string ColorCall(int element, uint32_t color) {
  return "BackColor " + std::to_string(element) + " " + std::to_string(color);
}
inline std::string VisibleCall(int element, bool visible) {
  return "Visible " + std::to_string(element) + (visible ? " 1" : " 0");
}

// The run-time error number `f` throws, or 0 when it returns.
template <typename F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

}  // namespace wendrix::face_test
