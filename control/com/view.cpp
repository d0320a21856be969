// The face as a view: IViewObject2 for containers that draw the control, and the repaints of
// what the core changes on the face.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <algorithm>
#include <utility>

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Repaints of what the core changed

void ControlObject::Face::SizeChanged() {
  if (owner_.destroying_) return;
  owner_.TellFaceChanges();
  if (owner_.window_) {
    owner_.KeepPlace();
    owner_.HoldSize();
    owner_.window_->Invalidate(-1);
  } else if (owner_.client_site_) {
    // A container that has not activated the control asks for its extent again.
    owner_.client_site_->RequestNewObjectLayout();
  }
  owner_.ViewChanged();
}

void ControlObject::Face::AppearanceChanged() {
  if (owner_.destroying_) return;
  owner_.TellFaceChanges();
  if (owner_.window_) owner_.window_->Invalidate(-1);
  owner_.ViewChanged();
}

void ControlObject::Face::ElementChanged(int element) {
  if (owner_.destroying_) return;
  // Within a tick the LEDs that changed are gathered, and told as one change before anything
  // leaves the control (an event, a box) and when the tick ends.
  if (owner_.data_batch_ > 0) {
    owner_.face_changes_.set(static_cast<size_t>(element));
    return;
  }
  if (owner_.window_) owner_.window_->Invalidate(element);
  owner_.ViewChanged();
}

void ControlObject::TellFaceChanges() {
  if (face_changes_.none() || destroying_) return;
  const std::bitset<kElementCount> changed = std::exchange(face_changes_, {});
  if (window_) window_->Invalidate(changed);
  ViewChanged();
}

void ControlObject::ViewChanged() {
  if (view_sink_ && (view_aspects_ & DVASPECT_CONTENT))
    view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
  DataChanged();
}

// ---------------------------------------------------------------------------------------------
// IViewObject2

STDMETHODIMP ControlObject::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                 LPCRECTL bounds, LPCRECTL meta_bounds,
                                 BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  // The content is one whole piece: -1 is the only index it has.
  if (index != -1) return DV_E_LINDEX;
  if (!dc) return E_INVALIDARG;
  ComPtr<IUnknown> keep(Identity());
  HRESULT hr = Guard([&] { EnsureInitialized(); });
  if (FAILED(hr)) return hr;
  RECT area;
  FaceScale scale;
  if (bounds) {
    // The face fills the bounds the container gives, in the logical units of its DC, whatever
    // their scale and direction.
    area = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
    scale.x_num = area.right - area.left;
    scale.x_den = std::max(1, static_cast<int>(surface_.Width()));
    scale.y_num = area.bottom - area.top;
    scale.y_den = std::max(1, static_cast<int>(surface_.Height()));
  } else if (window_) {
    // Bounds may be left out only while active: the face goes where the window is.
    scale = window_->scale();
    area = HeldRect();
  } else {
    return E_INVALIDARG;
  }
  // A Windows metafile is played under the window the container gives (else the bounds').
  RECT meta_window = area;
  if (meta_bounds)
    meta_window =
        RECT{meta_bounds->left, meta_bounds->top, meta_bounds->right, meta_bounds->bottom};
  // The drawing allocates (a metafile's records, the face's pieces): what it throws ends here.
  return Guard([&] { DrawFace(dc, area, scale, surface_, elements_, &meta_window); });
}

STDMETHODIMP ControlObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                        LOGPALETTE** out) {
  if (out) *out = nullptr;
  return S_FALSE;  // no palette of its own
}

STDMETHODIMP ControlObject::Freeze(DWORD, LONG, void*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return E_NOTIMPL;
}

STDMETHODIMP ControlObject::Unfreeze(DWORD) { return E_NOTIMPL; }

// With ADVF_PRIMEFIRST the sink hears of the view at once, before any change.
STDMETHODIMP ControlObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  ComPtr<IUnknown> keep(Identity());
  view_aspects_ = aspects;
  view_flags_ = flags;
  view_sink_ = sink;
  if (sink && (flags & ADVF_PRIMEFIRST)) ViewChanged();
  return S_OK;
}

STDMETHODIMP ControlObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** out) {
  if (aspects) *aspects = view_aspects_;
  if (flags) *flags = view_flags_;
  if (out) {
    *out = view_sink_.Get();
    if (*out) (*out)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP ControlObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, SIZEL* size) {
  return GetExtent(aspect, size);
}

}  // namespace wendrix::com
