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
#include "tests/native/control_fixture.h"

namespace wendrix::face_test {

struct Face {
  sim::SimHost host;
  // No recording device and no file system: nothing here records.
  test::ScriptedCapture capture;
  test::NoFiles files;
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

using test::ErrorOf;

}  // namespace wendrix::face_test
