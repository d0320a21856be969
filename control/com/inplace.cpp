// Activation in the container's window and the rectangle the control holds there:
// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject. The control is always windowed: a
// container that could host it windowless (IOleInPlaceSiteEx) is told so and gives it a window.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <utility>

#include "control/elements.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// Tells the site that the control is active in place, in its own window.
HRESULT ActivatedInPlace(IOleInPlaceSite* site) {
  ComPtr<IOleInPlaceSiteEx> ex;
  if (FAILED(site->QueryInterface(IID_PPV_ARGS(&ex)))) return site->OnInPlaceActivate();
  BOOL no_redraw = FALSE;  // the new window paints itself in full either way
  return ex->OnInPlaceActivateEx(&no_redraw, 0);
}

void DeactivatedInPlace(IOleInPlaceSite* site) {
  ComPtr<IOleInPlaceSiteEx> ex;
  if (SUCCEEDED(site->QueryInterface(IID_PPV_ARGS(&ex))))
    ex->OnInPlaceDeactivateEx(TRUE);
  else
    site->OnInPlaceDeactivate();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// In-place activation

HRESULT ControlObject::Activate(IOleClientSite* site, HWND parent, LPCRECT position, bool ui) {
  // A window the container destroyed is no activation: it ends as one, and a new one begins.
  if (window_ && !window_->handle()) InPlaceDeactivate();
  if (!window_) {
    ComPtr<IOleClientSite> client = site ? site : client_site_.Get();
    if (!client) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> inplace;
    if (FAILED(client.As(&inplace))) return E_NOINTERFACE;
    if (inplace->CanInPlaceActivate() != S_OK) return E_FAIL;
    HRESULT hr = ActivatedInPlace(inplace.Get());
    if (FAILED(hr)) return hr;
    HWND container = nullptr;
    if (FAILED(inplace->GetWindow(&container)) || !container) container = parent;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT proposed{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    const bool context =
        SUCCEEDED(inplace->GetWindowContext(&frame, &document, &proposed, &clip, &info));
    if (!context) {
      frame.Reset();
      document.Reset();
    }
    if (position) proposed = *position;
    std::unique_ptr<ControlWindow> window;
    HRESULT created = Guard([&] {
      EnsureInitialized();
      window = std::make_unique<ControlWindow>(
          surface_, elements_,
          [this](int element) {
            if (element == element::LEDOverflowLeft)
              Call([&] { control_->LEDOverflowLeft_Click(); });
            else if (element == element::LEDOverflowRight)
              Call([&] { control_->LEDOverflowRight_Click(); });
          },
          [this] { return site_.AmbientUserMode() && !AmbientUIDead(); },
          // The ticks must not die with the window: back to the timer's own window.
          [this] {
            if (timer_) timer_->UseWindow(nullptr);
          });
    });
    if (SUCCEEDED(created)) created = window->Create(container, proposed);
    if (FAILED(created)) {
      DeactivatedInPlace(inplace.Get());
      return created;
    }
    inplace_site_ = inplace;
    frame_ = frame;
    document_ = document;
    position_ = proposed;
    clip_ = clip;
    // An empty clip rectangle leaves the control unclipped, as ATL's controls take it.
    clipped_ = context && !IsRectEmpty(&clip);
    window_ = std::move(window);
    window_->OnRescaled([this] {
      ComPtr<IUnknown> keep(Identity());
      HoldSize();
    });
    // Ticks come through the control's own window while it has one.
    if (timer_) timer_->UseWindow(window_->handle());
    TakeAmbientBackColor();
    HoldSize();
    window_->Show(true);
  }
  window_->Show(true);
  if (ui && !ui_active_ && inplace_site_) {
    // A site that refuses the UI activation (OnUIActivate fails) keeps the control in place
    // only, and the verb fails with its answer.
    ui_active_ = true;
    HRESULT hr = inplace_site_->OnUIActivate();
    if (FAILED(hr)) {
      ui_active_ = false;
      return hr;
    }
    auto* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (frame_) frame_->SetActiveObject(active, nullptr);
    if (document_) document_->SetActiveObject(active, nullptr);
  }
  // The container scrolls the control into view if it needs to.
  if (IOleClientSite* client = site ? site : client_site_.Get()) client->ShowObject();
  return S_OK;
}

RECT ControlObject::HeldRect() const {
  FaceScale scale = window_ ? window_->scale() : FaceScale{};
  SIZE size = FaceSize(scale, const_cast<win32::SurfaceState&>(surface_));
  return RECT{position_.left, position_.top, position_.left + size.cx, position_.top + size.cy};
}

void ControlObject::HoldSize() {
  if (!window_) return;
  RECT held = HeldRect();
  // The size the window had since activation changes only when the control resizes itself (the
  // layout, or the pixels of another monitor's scale); a container's proposal never changes it.
  const SIZE size{held.right - held.left, held.bottom - held.top};
  if (held_size_.cx && (size.cx != held_size_.cx || size.cy != held_size_.cy))
    layout_changed_ = true;
  held_size_ = size;
  window_->Move(held);
  // In a scrolling container only the part inside the clip rectangle shows.
  window_->Clip(clipped_ ? &clip_ : nullptr);
  if (EqualRect(&held, &position_)) return;
  position_ = held;
  if (!inplace_site_) return;
  // The container answers with SetObjectRects for the real rectangle, which then fits. Should
  // the size change again while it answers, the latest rectangle is told once it returns; a
  // container that keeps proposing other sizes is told a few times, not for ever.
  if (reporting_position_) {
    report_again_ = true;
    return;
  }
  reporting_position_ = true;
  for (int round = 0; round < 4; ++round) {
    report_again_ = false;
    RECT told = position_;
    inplace_site_->OnPosRectChange(&told);
    if (!report_again_ || !inplace_site_) break;
  }
  reporting_position_ = false;
  // A container that takes its layout from the extent (VB6 keeps Height and Width there, and
  // hears OnPosRectChange only when it asked for the change) asks for the extent again.
  if (std::exchange(layout_changed_, false) && client_site_) client_site_->RequestNewObjectLayout();
}

void ControlObject::KeepPlace() {
  if (!window_) return;
  RECT placed = window_->Placement();
  OffsetRect(&position_, placed.left - position_.left, placed.top - position_.top);
}

// ---------------------------------------------------------------------------------------------
// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP ControlObject::GetWindow(HWND* out) {
  if (!out) return E_POINTER;
  *out = window_ ? window_->handle() : nullptr;
  return *out ? S_OK : E_FAIL;
}

STDMETHODIMP ControlObject::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP ControlObject::InPlaceDeactivate() {
  if (!window_) return S_OK;
  ComPtr<IUnknown> keep(Identity());
  UIDeactivate();
  // Cleared before they are released: the site may call back while it hears of it.
  std::unique_ptr<ControlWindow> window = std::move(window_);
  ComPtr<IOleInPlaceSite> site = std::move(inplace_site_);
  held_size_ = SIZE{};
  layout_changed_ = false;
  frame_.Reset();
  document_.Reset();
  if (timer_) timer_->UseWindow(nullptr);
  window.reset();
  if (site) DeactivatedInPlace(site.Get());
  return S_OK;
}

STDMETHODIMP ControlObject::UIDeactivate() {
  if (!ui_active_) return S_OK;
  ComPtr<IUnknown> keep(Identity());
  ui_active_ = false;
  if (document_) document_->SetActiveObject(nullptr, nullptr);
  if (frame_) frame_->SetActiveObject(nullptr, nullptr);
  if (inplace_site_) inplace_site_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP ControlObject::SetObjectRects(LPCRECT position, LPCRECT clip) {
  if (!position) return E_POINTER;
  ComPtr<IUnknown> keep(Identity());
  position_ = *position;
  clipped_ = clip && !IsRectEmpty(clip);
  if (clipped_) clip_ = *clip;
  HRESULT hr = Call([&] { control_->Resize(); });
  HoldSize();
  return hr;
}

STDMETHODIMP ControlObject::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

STDMETHODIMP ControlObject::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP ControlObject::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP ControlObject::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP ControlObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP ControlObject::EnableModeless(BOOL) { return S_OK; }

}  // namespace wendrix::com
