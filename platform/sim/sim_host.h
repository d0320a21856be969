// A simulated container for tests: it records every call the control makes on its container,
// surface, elements and timer, in order, keeps their state, and fails any call on request.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/elements.h"
#include "platform/container.h"
#include "platform/error.h"
#include "platform/sim/fault_list.h"
#include "platform/variant.h"

namespace wendrix::sim {

// One call on the host, as a line of text: "PropertyChanged Enabled", "Event 4",
// "MessageBox text", "Surface.Width 1830", "Visible 30 0", "BackColor 5 65280",
// "Timer.Interval 100", "Timer.Enabled 1".
using CallLog = std::vector<std::string>;

class SimHost : public Container, public Surface, public Elements, public Timer {
 public:
  SimHost();

  // --- what the control saw, in order ---
  CallLog calls;
  // Only the PropertyChanged names, events and message box texts, for convenience.
  std::vector<std::string> property_changes;
  std::vector<Event> events;
  std::vector<std::string> message_boxes;
  // Every message box text any SimHost of this process showed, for checks made after the tests.
  static std::vector<std::string>& AllMessageBoxes();

  // --- settings of the simulated container ---
  bool user_mode = true;
  // What GranularityMicroseconds reports: 0 for a timer that keeps any interval.
  int64_t timer_granularity_us = 0;
  // Called from RaiseEvent after the event is recorded (the host's handler); may throw.
  std::function<void(Event)> on_event;
  // Called from MessageBox after the text is recorded (e.g. to deliver ticks meanwhile).
  std::function<void(const std::string&)> on_message_box;
  // Called after a surface size change (a real surface notifies Resize); may be empty.
  std::function<void()> on_resize;

  // Makes the next matching call fail with `error`. `what` is the start of the call's log
  // line ("Visible 30", "BackColor 5", "Surface.BackStyle", "Timer.Interval"); `after` lets
  // that many matching calls succeed first. A failing call is logged with a "!" prefix and
  // changes nothing.
  void FailNext(const std::string& what, Error error, int after = 0);
  // Makes every matching call fail until ClearFailures.
  void FailAlways(const std::string& what, Error error);
  void ClearFailures();

  // --- state ---
  uint32_t element_color(int e) const { return colors_[e]; }
  bool element_visible(int e) const { return visible_[e]; }
  float width() const { return width_; }
  float height() const { return height_; }
  int32_t interval() const { return interval_; }
  bool timer_enabled() const { return timer_enabled_; }
  int16_t back_style() const { return back_style_; }
  int16_t border_style() const { return border_style_; }
  uint32_t back_color() const { return back_color_; }

  // The calls logged since `mark` (an index into `calls`) whose line starts with `prefix`.
  std::vector<std::string> CallsSince(size_t mark, const std::string& prefix = "") const;

  // Container
  void PropertyChanged(const std::string& name) override;
  bool AmbientUserMode() override;
  void RaiseEvent(Event event) override;
  void MessageBox(const std::string& text) override;

  // Surface
  void SetWidth(float twips) override;
  void SetHeight(float twips) override;
  float Width() override;
  float Height() override;
  uint32_t BackColor() override;
  void SetBackColor(uint32_t color) override;
  int16_t BackStyle() override;
  void SetBackStyle(int16_t style) override;
  int16_t BorderStyle() override;
  void SetBorderStyle(int16_t style) override;

  // Elements
  void SetVisible(int element, bool visible) override;
  bool Visible(int element) override;
  void SetBackColor(int element, uint32_t color) override;
  uint32_t BackColor(int element) override;

  // Timer
  void SetInterval(int32_t milliseconds) override;
  int32_t Interval() override;
  int64_t GranularityMicroseconds() override { return timer_granularity_us; }
  void SetEnabled(bool enabled) override;
  bool Enabled() override;

 private:
  // Logs the call, or throws when a failure matches it.
  void Call(const std::string& line);

  FaultList<std::string> faults_;
  std::array<uint32_t, kElementCount> colors_{};
  std::array<bool, kElementCount> visible_{};
  float width_ = 1830;  // the surface's design size
  float height_ = 750;
  uint32_t back_color_ = 0x808080;
  int16_t back_style_ = 0;
  int16_t border_style_ = 1;
  int32_t interval_ = 500;
  bool timer_enabled_ = false;
};

// An in-memory property bag: holds any Variant under any key, records reads and writes, and
// fails a given key on request.
class SimPropertyBag : public PropertyBag {
 public:
  std::map<std::string, Variant> values;
  std::vector<std::string> reads;                 // keys, in order
  std::vector<std::string> writes;                // keys, in order
  std::map<std::string, Variant> write_defaults;  // the default handed with each write
  // Keys whose read or write fails with this error.
  std::map<std::string, Error> fail;
  // Whether a written value equal to its default is left out (as a real bag may do).
  bool omit_defaults = false;

  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;
};

}  // namespace wendrix::sim
