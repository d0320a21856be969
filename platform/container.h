// The services the control's container gives it: notifications it receives are methods of
// the control; the services it calls are these interfaces.
//
// Every call either succeeds or throws wendrix::Error, which the calling operation passes on
// to its own caller (unless the operation says otherwise). All calls happen on the host's
// user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/variant.h"

namespace wendrix {

// The events of the control, by their dispatch numbers.
enum class Event : int32_t {
  dBOnChangeLeft = 1,
  dBOnChangeRight = 2,
  OnStop = 3,
  OnStart = 4,
};

// The host's saved state of one control.
class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  // The stored value for `key`, or `default_value` when the key is absent.
  virtual Variant ReadProperty(const std::string& key, const Variant& default_value) = 0;
  // Stores `value` under `key`; the bag may leave out a value equal to `default_value`.
  virtual void WriteProperty(const std::string& key, const Variant& value,
                             const Variant& default_value) = 0;
};

// The container proper.
class Container {
 public:
  virtual ~Container() = default;
  // A persisted property changed through its setter: the host marks its saved state dirty.
  virtual void PropertyChanged(const std::string& name) = 0;
  // True while the host runs its program, False while its form is being designed.
  virtual bool AmbientUserMode() = 0;
  // Fires an event to every connected sink, synchronously, with no arguments. A handler may
  // call back into the control. Errors of a handler come back as Error.
  virtual void RaiseEvent(Event event) = 0;
  // Shows a modal box with `text`, an OK button and the caption "Wendrix"; returns when the
  // user closes it. Other messages (timer ticks among them) may be delivered meanwhile.
  virtual void MessageBox(const std::string& text) = 0;
};

// The control's own visible rectangle (the surface): size and appearance.
class Surface {
 public:
  virtual ~Surface() = default;
  // Sets the width or height in twips. Setting a size notifies the control's Resize again.
  virtual void SetWidth(float twips) = 0;
  virtual void SetHeight(float twips) = 0;
  virtual float Width() = 0;
  virtual float Height() = 0;
  // OLE colour &H00BBGGRR, or a system colour index with the high bit set.
  virtual uint32_t BackColor() = 0;
  virtual void SetBackColor(uint32_t color) = 0;
  // 0 transparent, 1 opaque; the surface refuses other values with error 380.
  virtual int16_t BackStyle() = 0;
  virtual void SetBackStyle(int16_t style) = 0;
  // 0 none, 1 fixed single; the surface refuses other values with error 380.
  virtual int16_t BorderStyle() = 0;
  virtual void SetBorderStyle(int16_t style) = 0;
};

// The constituent elements, by their number in the control's element table (0 .. 31).
class Elements {
 public:
  virtual ~Elements() = default;
  virtual void SetVisible(int element, bool visible) = 0;
  virtual bool Visible(int element) = 0;
  virtual void SetBackColor(int element, uint32_t color) = 0;
  virtual uint32_t BackColor(int element) = 0;
};

// The constituent timer Timer1. While enabled with a nonzero interval it delivers a tick to
// the control's Timer1_Timer about every interval; a zero interval never ticks.
class Timer {
 public:
  virtual ~Timer() = default;
  // Milliseconds, 0 .. 65535; another value fails with error 380.
  virtual void SetInterval(int32_t milliseconds) = 0;
  virtual int32_t Interval() = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() = 0;
  // The shortest spacing at which ticks really arrive, in microseconds: a shorter interval
  // ticks at this spacing (or at a multiple of it). 0 for a timer that keeps any interval.
  virtual int64_t GranularityMicroseconds() { return 0; }
};

}  // namespace wendrix
