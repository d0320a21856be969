// Events and property notifications: the connection points a container advises, and the
// events and PropertyChanged calls of the core that reach them.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <new>
#include <string_view>

namespace wendrix::com {
namespace {

// The DISPIDs of the persisted properties, for IPropertyNotifySink::OnChanged.
struct PropertyId {
  std::string_view name;
  DISPID id;
};
constexpr PropertyId kPropertyIds[] = {
    {"Enabled", 0x6803000D},        {"SamplesPerSecond", 0x6803000C},
    {"NumChannels", 0x6803000B},    {"BitsPerSample", 0x6803000A},
    {"BufferLength", 0x68030009},   {"AutoCalculateBuff", 0x68030008},
    {"BufferPosition", 0x68030007}, {"BackColor", 0x68030006},
    {"BackStyle", 0x68030005},      {"BorderStyle", 0x68030004},
    {"ShowVU", 0x68030003},         {"ShowVUScale", 0x68030002},
    {"dBLeft", 0x68030001},         {"dBRight", 0x68030000},
};

DISPID PropertyDispId(const std::string& name) {
  for (const PropertyId& p : kPropertyIds)
    if (p.name == name) return p.id;
  return DISPID_UNKNOWN;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The events and notifications the core raises

void ControlObject::Site::PropertyChanged(const std::string& name) {
  if (owner_.destroying_) return;
  owner_.TellFaceChanges();
  owner_.dirty_ = true;
  owner_.property_notify_.NotifyChanged(PropertyDispId(name));
}

void ControlObject::Site::RaiseEvent(Event event) {
  // While the container holds events frozen (it loads the form, or designs it) they are
  // dropped, not kept for later, as MFC's and ATL's controls do.
  if (owner_.destroying_ || owner_.frozen_events_ > 0) return;
  owner_.TellFaceChanges();
  // A sink's failure is its own: the other sinks still hear the event, and the operation that
  // raised it goes on.
  owner_.events_.Fire(static_cast<DISPID>(event));
}

// ---------------------------------------------------------------------------------------------
// IConnectionPointContainer

STDMETHODIMP ControlObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    return CreateConnectionPointEnumerator({&events_, &property_notify_}, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP ControlObject::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == DIID___DSWendrixControl)
    *out = &events_;
  else if (riid == IID_IPropertyNotifySink)
    *out = &property_notify_;
  else
    return CONNECT_E_NOCONNECTION;
  (*out)->AddRef();
  return S_OK;
}

}  // namespace wendrix::com
