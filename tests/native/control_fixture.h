// A control on the simulated host, with a recorder system that the test scripts: by default
// there is no recording device and no file can be created.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/error.h"
#include "platform/sim/sim_host.h"

namespace wendrix::test {

inline constexpr uint32_t kNoDriver = 0x88780078u;  // DSERR_NODRIVER

// A ring buffer that stands still at a chosen position.
class StillBuffer : public CaptureBuffer {
 public:
  int32_t device_position = 0;
  int32_t read_position = 0;
  bool fail_position = false;

  void Start(uint32_t) override {}
  void Stop() override {}
  void GetCurrentPosition(int32_t& device, int32_t& read) override {
    if (fail_position) throw Error::Platform(0x88780096u, "GetCurrentPosition: buffer lost");
    device = device_position;
    read = read_position;
  }
  void Lock(uint32_t, uint32_t, LockedRegion& first, LockedRegion& second) override {
    first = {};
    second = {};
  }
  void Unlock(const LockedRegion&, const LockedRegion&) override {}
  uint32_t RingLength() override { return ring; }
  uint32_t ring = 0;
};

// A device that keeps the description and format of every buffer it creates.
class ScriptedDevice : public CaptureDevice {
 public:
  std::vector<CaptureBufferDesc> descs;
  std::vector<WaveFormat> formats;

  std::shared_ptr<CaptureBuffer> CreateCaptureBuffer(const CaptureBufferDesc& desc) override {
    descs.push_back(desc);
    formats.push_back(desc.lpwfxFormat ? *desc.lpwfxFormat : WaveFormat{});
    auto buffer = std::make_shared<StillBuffer>();
    buffer->ring = desc.dwBufferBytes;
    return buffer;
  }
};

class ScriptedCapture : public CaptureSystem {
 public:
  bool has_device = false;  // false: opening fails with DSERR_NODRIVER
  int opened = 0;
  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();

  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    ++opened;
    if (!has_device) throw Error::Platform(kNoDriver, "DirectSoundCaptureCreate: no driver");
    return device;
  }
};

class NoFiles : public FileSystem {
 public:
  std::unique_ptr<MultimediaFile> OpenOutputFile(const std::string& path) override {
    throw Error(75, "cannot create " + path);
  }
  std::unique_ptr<BinaryFile> OpenBinaryFile(const std::string& path,
                                             const FileIdentity&) override {
    throw Error(75, "cannot open " + path);
  }
  void Pause(int32_t) override {}
  std::string FullPath(const std::string& path) override { return path; }
};

struct ControlFixture {
  sim::SimHost host;
  ScriptedCapture capture;
  NoFiles files;
  Control control{Platform{host, host, host, host, capture, files}};
  ControlState& s = control.state();

  // A control as a host creates it: Initialize, then the first-placement defaults.
  void PlaceNew() {
    control.Initialize();
    control.InitProperties();
  }
  // Forget what the host has seen so far.
  size_t Mark() {
    host.property_changes.clear();
    return host.calls.size();
  }
};

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

// The description of the run-time error `f` throws, or "" when it returns.
template <typename F>
std::string DescriptionOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.description();
  }
  return {};
}

}  // namespace wendrix::test
