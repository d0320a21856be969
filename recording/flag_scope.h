// Sets a Boolean of the control state for the length of a scope and puts it back after,
// however the scope ends.
#pragma once

#include "platform/variant.h"

namespace wendrix {

class FlagScope {
 public:
  FlagScope(Boolean& flag, Boolean value) : flag_(flag), old_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = old_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  Boolean& flag_;
  Boolean old_;
};

}  // namespace wendrix
