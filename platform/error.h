// Run-time errors: how every failure travels from the core to its caller.
//
// The core reports a failure by throwing an Error; the operation ends there. A run-time
// error carries the number a host sees in Err.Number (6 "Overflow", 382 "Set not supported
// at runtime", ...) and travels across COM as the HRESULT 0x800A0000 + number. A platform
// error (a DirectSound or file failure) keeps the platform's own HRESULT, and its number is
// that HRESULT read as a signed 32-bit value, as a host would see it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace wendrix {

class Error : public std::runtime_error {
 public:
  // A run-time error with the standard description for its number (empty if none is known).
  explicit Error(int32_t number);
  // A run-time error with a description of the caller's.
  Error(int32_t number, std::string description);
  // A failure of a platform call, keeping its HRESULT.
  static Error Platform(uint32_t hresult, std::string description);

  int32_t number() const { return number_; }
  uint32_t hresult() const { return hresult_; }
  const std::string& description() const { return description_; }

 private:
  Error(int32_t number, uint32_t hresult, std::string description);

  int32_t number_;
  uint32_t hresult_;
  std::string description_;
};

// The standard run-time errors the control raises.
namespace errc {
inline constexpr int32_t InvalidProcedureCall = 5;  // "Invalid procedure call or argument"
inline constexpr int32_t Overflow = 6;              // "Overflow"
inline constexpr int32_t TypeMismatch = 13;         // "Type mismatch"
inline constexpr int32_t BadFileName = 52;          // "Bad file name or number"
inline constexpr int32_t DiskFull = 61;             // "Disk full"
inline constexpr int32_t PermissionDenied = 70;     // "Permission denied"
inline constexpr int32_t PathFileAccess = 75;       // "Path/File access error"
inline constexpr int32_t PathNotFound = 76;         // "Path not found"
inline constexpr int32_t ObjectNotSet = 91;  // "Object variable or With block variable not set"
inline constexpr int32_t BadIndex = 340;     // "Control array element doesn't exist"
inline constexpr int32_t InvalidPropertyValue = 380;      // "Invalid property value"
inline constexpr int32_t SetNotSupportedAtRuntime = 382;  // "Set not supported at runtime"
inline constexpr int32_t SetNotPermitted = 387;           // "Set not permitted"
}  // namespace errc

// The standard description of a run-time error number, or "" when there is none.
std::string StandardDescription(int32_t number);

// The HRESULT a run-time error travels as: 0x800A0000 + number.
constexpr uint32_t RuntimeErrorHResult(int32_t number) {
  return 0x800A0000u + static_cast<uint32_t>(number & 0xFFFF);
}

}  // namespace wendrix
