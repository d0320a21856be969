// IQuickActivate: what VB6, Office forms and .NET's ActiveX wrapper hand over in one call when
// a control offers it. Each part does what its separate call does: the client site
// (SetClientSite), the view's advise sink (IViewObject::SetAdvise), the event and property
// notification sinks (their connection points), and back the misc status.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <cstddef>
#include <cstring>

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// The part of QACONTAINER an older container fills in: up to the ambient flags.
constexpr ULONG kContainerNeeds = offsetof(QACONTAINER, dwAmbientFlags) + sizeof(DWORD);

}  // namespace

STDMETHODIMP ControlObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < kContainerNeeds || control->cbSize < sizeof(QACONTROL))
    return E_INVALIDARG;
  ComPtr<IUnknown> keep(Identity());
  const ULONG size = control->cbSize;
  std::memset(control, 0, sizeof(QACONTROL));
  control->cbSize = size;
  SetClientSite(container->pClientSite);
  if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  // A sink that cannot be connected leaves its cookie 0, as its Advise would have failed; the
  // activation goes on, as it does for the containers' separate calls.
  if (container->pUnkEventSink) events_.Advise(container->pUnkEventSink, &control->dwEventCookie);
  if (container->pPropertyNotifySink)
    property_notify_.Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
  GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
  // Not transparent-aware (no IViewObjectEx) and no pointer activation of its own: both 0.
  return S_OK;
}

STDMETHODIMP ControlObject::SetContentExtent(LPSIZEL size) {
  return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP ControlObject::GetContentExtent(LPSIZEL size) {
  return GetExtent(DVASPECT_CONTENT, size);
}

}  // namespace wendrix::com
