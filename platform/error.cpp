#include "platform/error.h"

#include <utility>

namespace wendrix {

std::string StandardDescription(int32_t number) {
  switch (number) {
    case errc::InvalidProcedureCall:
      return "Invalid procedure call or argument";
    case errc::Overflow:
      return "Overflow";
    case errc::TypeMismatch:
      return "Type mismatch";
    case errc::BadFileName:
      return "Bad file name or number";
    case errc::DiskFull:
      return "Disk full";
    case errc::PermissionDenied:
      return "Permission denied";
    case errc::PathFileAccess:
      return "Path/File access error";
    case errc::PathNotFound:
      return "Path not found";
    case errc::ObjectNotSet:
      return "Object variable or With block variable not set";
    case errc::BadIndex:
      return "Control array element doesn't exist";
    case errc::InvalidPropertyValue:
      return "Invalid property value";
    case errc::SetNotSupportedAtRuntime:
      return "Set not supported at runtime";
    case errc::SetNotPermitted:
      return "Set not permitted";
    default:
      return "";
  }
}

Error::Error(int32_t number) : Error(number, StandardDescription(number)) {}

Error::Error(int32_t number, std::string description)
    : Error(number, RuntimeErrorHResult(number), std::move(description)) {}

Error::Error(int32_t number, uint32_t hresult, std::string description)
    : std::runtime_error(description),
      number_(number),
      hresult_(hresult),
      description_(std::move(description)) {}

Error Error::Platform(uint32_t hresult, std::string description) {
  return Error(static_cast<int32_t>(hresult), hresult, std::move(description));
}

}  // namespace wendrix
