#include "platform/sim/sim_host.h"

#include <sstream>

namespace wendrix::sim {
namespace {

std::string Num(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

}  // namespace

SimHost::SimHost() {
  const auto& table = ElementTable();
  for (int e = 0; e < kElementCount; ++e) {
    colors_[e] = table[e].back_color;
    visible_[e] = table[e].visible;
  }
}

void SimHost::FailNext(const std::string& what, Error error, int after) {
  faults_.FailNext(what, std::move(error), after);
}

void SimHost::FailAlways(const std::string& what, Error error) {
  faults_.FailAlways(what, std::move(error));
}

void SimHost::ClearFailures() { faults_.Clear(); }

void SimHost::Call(const std::string& line) {
  faults_.Call([&line](const std::string& what) { return line.compare(0, what.size(), what) == 0; },
               calls, line);
}

std::vector<std::string> SimHost::CallsSince(size_t mark, const std::string& prefix) const {
  std::vector<std::string> out;
  for (size_t i = mark; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0) out.push_back(calls[i]);
  }
  return out;
}

void SimHost::PropertyChanged(const std::string& name) {
  Call("PropertyChanged " + name);
  property_changes.push_back(name);
}

bool SimHost::AmbientUserMode() {
  Call("AmbientUserMode");
  return user_mode;
}

void SimHost::RaiseEvent(Event event) {
  Call("Event " + std::to_string(static_cast<int>(event)));
  events.push_back(event);
  if (on_event) on_event(event);
}

std::vector<std::string>& SimHost::AllMessageBoxes() {
  static std::vector<std::string> all;
  return all;
}

void SimHost::MessageBox(const std::string& text) {
  Call("MessageBox " + text);
  message_boxes.push_back(text);
  AllMessageBoxes().push_back(text);
  if (on_message_box) on_message_box(text);
}

void SimHost::SetWidth(float twips) {
  Call("Surface.Width " + Num(twips));
  const bool changed = width_ != twips;
  width_ = twips;
  if (changed && on_resize) on_resize();
}

void SimHost::SetHeight(float twips) {
  Call("Surface.Height " + Num(twips));
  const bool changed = height_ != twips;
  height_ = twips;
  if (changed && on_resize) on_resize();
}

float SimHost::Width() { return width_; }
float SimHost::Height() { return height_; }

uint32_t SimHost::BackColor() {
  Call("Surface.GetBackColor");
  return back_color_;
}

void SimHost::SetBackColor(uint32_t color) {
  Call("Surface.BackColor " + std::to_string(color));
  back_color_ = color;
}

int16_t SimHost::BackStyle() {
  Call("Surface.GetBackStyle");
  return back_style_;
}

void SimHost::SetBackStyle(int16_t style) {
  Call("Surface.BackStyle " + std::to_string(style));
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  back_style_ = style;
}

int16_t SimHost::BorderStyle() {
  Call("Surface.GetBorderStyle");
  return border_style_;
}

void SimHost::SetBorderStyle(int16_t style) {
  Call("Surface.BorderStyle " + std::to_string(style));
  if (style != 0 && style != 1) throw Error(errc::InvalidPropertyValue);
  border_style_ = style;
}

void SimHost::SetVisible(int element, bool visible) {
  Call("Visible " + std::to_string(element) + " " + (visible ? "1" : "0"));
  visible_.at(element) = visible;
}

bool SimHost::Visible(int element) { return visible_.at(element); }

void SimHost::SetBackColor(int element, uint32_t color) {
  Call("BackColor " + std::to_string(element) + " " + std::to_string(color));
  colors_.at(element) = color;
}

uint32_t SimHost::BackColor(int element) { return colors_.at(element); }

void SimHost::SetInterval(int32_t milliseconds) {
  Call("Timer.Interval " + std::to_string(milliseconds));
  if (milliseconds < 0 || milliseconds > 65535) throw Error(errc::InvalidPropertyValue);
  interval_ = milliseconds;
}

int32_t SimHost::Interval() { return interval_; }

void SimHost::SetEnabled(bool enabled) {
  Call(std::string("Timer.Enabled ") + (enabled ? "1" : "0"));
  timer_enabled_ = enabled;
}

bool SimHost::Enabled() { return timer_enabled_; }

Variant SimPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
  reads.push_back(key);
  if (auto f = fail.find(key); f != fail.end()) throw f->second;
  auto it = values.find(key);
  return it == values.end() ? default_value : it->second;
}

void SimPropertyBag::WriteProperty(const std::string& key, const Variant& value,
                                   const Variant& default_value) {
  writes.push_back(key);
  if (auto f = fail.find(key); f != fail.end()) throw f->second;
  write_defaults.insert_or_assign(key, default_value);
  if (omit_defaults && value == default_value) {
    values.erase(key);
  } else {
    values.insert_or_assign(key, value);
  }
}

}  // namespace wendrix::sim
