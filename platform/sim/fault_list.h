// Failures a simulated service was told to produce, and the log of the calls it saw.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace wendrix::sim {

// Failures keyed by what they match (a call's kind, or the start of its log line).
template <typename Key>
class FaultList {
 public:
  // The next matching call fails; `after` lets that many matching calls succeed first.
  void FailNext(Key key, Error error, int after = 0) {
    faults_.push_back(Fault{std::move(key), std::move(error), after, false});
  }
  // Every matching call fails until Clear.
  void FailAlways(Key key, Error error) {
    faults_.push_back(Fault{std::move(key), std::move(error), 0, true});
  }
  void Clear() { faults_.clear(); }

  // Appends `line` to `log`, or, when a failure's key is accepted by `matches`, appends it
  // with a "!" prefix and throws that failure's error.
  template <typename Matches>
  void Call(const Matches& matches, std::vector<std::string>& log, const std::string& line) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
      if (!matches(it->key)) continue;
      if (it->after > 0) {
        --it->after;
        continue;
      }
      Error error = it->error;
      if (!it->always) faults_.erase(it);
      log.push_back("!" + line);
      throw error;
    }
    log.push_back(line);
  }

 private:
  struct Fault {
    Key key;
    Error error;
    int after;
    bool always;
  };
  std::vector<Fault> faults_;
};

}  // namespace wendrix::sim
