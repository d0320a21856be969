// The control in a real window: a form (a top-level window with a blue background) and a
// container site that activates the control in place, as a form host does. What it shows is
// read back as pixels at 96 DPI (15 twips to a pixel): from the control's own window, and from
// IViewObject::Draw into a memory bitmap.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

constexpr COLORREF kFormColor = RGB(0, 0, 255);
constexpr COLORREF kLedOff = RGB(0, 64, 64);
constexpr COLORREF kLedOffHigh = RGB(192, 64, 0);
constexpr COLORREF kLampOff = RGB(128, 0, 0);
// Frames and the border are drawn in the system's window-frame colour.
COLORREF Frame() { return GetSysColor(COLOR_WINDOWFRAME); }

// A twips distance at 96 DPI.
int Px(int twips) { return twips / 15; }
// HIMETRIC of a twips distance, as the control reports its extent.
LONG Himetric(int twips) { return MulDiv(twips, 2540, 1440); }

LRESULT CALLBACK FormProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(w, m, wp, lp);
}

// The form: a visible top-level window whose class paints it blue. A popup without a caption,
// so that Wine leaves it unmanaged and does not wait for a window manager to unmap it.
class Form {
 public:
  Form() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = CreateSolidBrush(kFormColor);
    wc.lpszClassName = L"WendrixTestForm";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, L"WendrixTestForm", L"Form", WS_POPUP | WS_CLIPCHILDREN, 50, 50,
                             400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    // Not activated: the control's boxes must find their owner through the site, not as the
    // thread's active window.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
  }
  ~Form() { DestroyWindow(window); }
  HWND window = nullptr;
};

// The container's site: client site, in-place site and frame in one object, with the ambient
// UserMode. It accepts the rectangle the control asks for, as a form does.
class Container final : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IDispatch {
 public:
  explicit Container(HWND form) : form_(form) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** out) override { return *out = nullptr, E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return S_OK; }

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* out) override { return *out = form_, S_OK; }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return ++activations, S_OK; }
  STDMETHODIMP OnUIActivate() override { return ++ui_activations, S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, OLEINPLACEFRAMEINFO* info) override {
    *frame = this;
    AddRef();
    *document = nullptr;
    *position = proposed;
    *clip = proposed;
    info->fMDIApp = FALSE;
    info->hwndFrame = form_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return ++deactivations, S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT position) override {
    changes.push_back(*position);
    // A form takes the rectangle its control asks for and tells it so.
    if (object) object->SetObjectRects(position, position);
    return S_OK;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    active_object = active;
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if ((id != DISPID_AMBIENT_USERMODE && id != DISPID_AMBIENT_UIDEAD) || !result)
      return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_BOOL;
    const bool value = id == DISPID_AMBIENT_USERMODE ? user_mode : ui_dead;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  ULONG refs = 1;
  bool user_mode = true, ui_dead = false;
  RECT proposed{};
  std::vector<RECT> changes;
  IOleInPlaceObject* object = nullptr;
  IOleInPlaceActiveObject* active_object = nullptr;
  int activations = 0, ui_activations = 0, deactivations = 0;

 private:
  HWND form_;
};

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// A 32-bit bitmap to draw into and read back.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  void Fill(COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    RECT all{0, 0, width_, height_};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

std::string Rgb(COLORREF c) {
  return "RGB(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
         std::to_string(GetBValue(c)) + ")";
}

// The centre of LED `index` of the upper (left) or lower (right) row, in pixels.
POINT LedCentre(bool left, int index) {
  return POINT{Px(120 * index) + 4, left ? Px(127) : Px(240 + 127)};
}
POINT LampCentre(bool left) { return POINT{Px(1680) + 4, left ? Px(127) : Px(240 + 127)}; }

// A control placed on the form and activated in place at a proposed rectangle.
class ControlOnForm : public ::testing::Test {
 protected:
  // One form for all: Wine takes a while to show and to destroy a top-level window.
  static void SetUpTestSuite() { form_ = new Form; }
  static void TearDownTestSuite() {
    delete form_;
    form_ = nullptr;
  }

  void SetUp() override {
    control = CreateControl();
    ASSERT_TRUE(control);
    ASSERT_HRESULT_SUCCEEDED(control.As(&ole));
    ASSERT_HRESULT_SUCCEEDED(control.As(&inplace));
    ASSERT_HRESULT_SUCCEEDED(control.As(&view));
    container.object = inplace.Get();
    ASSERT_HRESULT_SUCCEEDED(ole->SetClientSite(&container));
    ComPtr<IPersistStreamInit> persist;
    ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
    ASSERT_HRESULT_SUCCEEDED(persist->InitNew());
  }

  void TearDown() override {
    if (!ole) return;
    EXPECT_HRESULT_SUCCEEDED(ole->Close(OLECLOSE_NOSAVE));
    EXPECT_HRESULT_SUCCEEDED(ole->SetClientSite(nullptr));
    inplace.Reset();
    view.Reset();
    ole.Reset();
    EXPECT_EQ(ReleaseLast(control), 0u);
    EXPECT_EQ(container.refs, 1u) << "the control keeps a reference to its site";
  }

  // Activates the control with `verb` at a proposed size of 3000 x 2000 twips.
  void Activate(LONG verb = OLEIVERB_INPLACEACTIVATE) {
    container.proposed = RECT{10, 20, 10 + Px(3000), 20 + Px(2000)};
    ASSERT_HRESULT_SUCCEEDED(
        ole->DoVerb(verb, nullptr, &container, 0, form.window, &container.proposed));
    ASSERT_HRESULT_SUCCEEDED(inplace->GetWindow(&window));
    Pump();
  }

  // The client area as the control paints it (WM_PRINTCLIENT: the paint of WM_PAINT); without
  // a window, as IViewObject::Draw draws it.
  std::unique_ptr<Canvas> Snapshot() {
    auto canvas = std::make_unique<Canvas>(Px(1830), Px(510));
    canvas->Fill(RGB(1, 2, 3));
    if (window) {
      SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas->dc()), PRF_CLIENT);
    } else {
      RECTL bounds{0, 0, Px(1830), Px(510)};
      EXPECT_HRESULT_SUCCEEDED(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr,
                                          canvas->dc(), &bounds, nullptr, nullptr, 0));
    }
    return canvas;
  }

  void RecordAndCheckTheLeds();

  void Put(const wchar_t* name, Var value) {
    Outcome out;
    InvokeByName(control.Get(), name, DISPATCH_PROPERTYPUT, {&value}, out);
    ASSERT_HRESULT_SUCCEEDED(out.hr) << "put " << name;
  }

  SIZE ClientSize() const {
    RECT r{};
    GetClientRect(window, &r);
    return SIZE{r.right, r.bottom};
  }

  static Form* form_;
  Form& form = *form_;
  Container container{form.window};
  ComPtr<IDispatch> control;
  ComPtr<IOleObject> ole;
  ComPtr<IOleInPlaceObject> inplace;
  ComPtr<IViewObject2> view;
  HWND window = nullptr;
};

Form* ControlOnForm::form_ = nullptr;

TEST_F(ControlOnForm, ActivatesInPlaceAsAChildOfTheFormAndHoldsItsOwnSize) {
  Activate();
  EXPECT_EQ(container.activations, 1);
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(GetParent(window), form.window);
  EXPECT_TRUE(IsWindowVisible(window));
  // The container proposed 3000 x 2000 twips; the control asked for its own size instead.
  ASSERT_FALSE(container.changes.empty());
  RECT asked = container.changes.back();
  EXPECT_EQ(asked.left, 10);
  EXPECT_EQ(asked.top, 20);
  EXPECT_EQ(asked.right - asked.left, Px(1830));
  EXPECT_EQ(asked.bottom - asked.top, Px(510));
  EXPECT_EQ(ClientSize().cx, Px(1830));
  EXPECT_EQ(ClientSize().cy, Px(510));

  // Another proposal gives way again.
  RECT other{5, 6, 305, 206};
  container.changes.clear();
  ASSERT_HRESULT_SUCCEEDED(inplace->SetObjectRects(&other, &other));
  ASSERT_EQ(container.changes.size(), 1u);
  EXPECT_EQ(container.changes[0].left, 5);
  EXPECT_EQ(container.changes[0].right - container.changes[0].left, Px(1830));
  EXPECT_EQ(container.changes[0].bottom - container.changes[0].top, Px(510));
  RECT placed{};
  GetWindowRect(window, &placed);
  MapWindowPoints(nullptr, form.window, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 5);
  EXPECT_EQ(placed.top, 6);

  // The proposal it can take causes no further change.
  container.changes.clear();
  RECT fits{5, 6, 5 + Px(1830), 6 + Px(510)};
  ASSERT_HRESULT_SUCCEEDED(inplace->SetObjectRects(&fits, &fits));
  EXPECT_TRUE(container.changes.empty());

  ASSERT_HRESULT_SUCCEEDED(inplace->InPlaceDeactivate());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(container.deactivations, 1);
}

TEST_F(ControlOnForm, PaintsItsFaceOnTheScreen) {
  Activate();
  RedrawWindow(form.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  HDC dc = GetDC(window);
  ASSERT_NE(dc, nullptr);
  POINT led = LedCentre(false, 11), lamp = LampCentre(true);
  const POINT gap{Px(1620), Px(127)};
  EXPECT_EQ(Rgb(GetPixel(dc, led.x, led.y)), Rgb(kLedOffHigh));
  EXPECT_EQ(Rgb(GetPixel(dc, lamp.x, lamp.y)), Rgb(kLampOff));
  EXPECT_EQ(Rgb(GetPixel(dc, gap.x, gap.y)), Rgb(kFormColor));
  ReleaseDC(window, dc);
}

TEST_F(ControlOnForm, ExtentFollowsTheLayoutAndRefusesEveryOtherSize) {
  SIZEL big{Himetric(3000), Himetric(2000)};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &big), E_FAIL);
  SIZEL extent{};
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(extent.cx, Himetric(1830));
  EXPECT_EQ(extent.cy, Himetric(510));
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);

  Activate();
  // Mono with the meter shown: one row; the window and the site follow at once.
  Put(L"NumChannels", Var::I4(1));
  EXPECT_EQ(ClientSize().cy, Px(255));
  ASSERT_FALSE(container.changes.empty());
  EXPECT_EQ(container.changes.back().bottom - container.changes.back().top, Px(255));
  SIZEL view_extent{};
  ASSERT_HRESULT_SUCCEEDED(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &view_extent));
  EXPECT_EQ(view_extent.cx, Himetric(1830));
  EXPECT_EQ(view_extent.cy, Himetric(255));
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), E_FAIL) << "the old size";
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(extent.cy, Himetric(255));

  // The panel in place of the meter takes both rows' height again.
  Put(L"ShowVU", Var::Bool(false));
  EXPECT_EQ(ClientSize().cy, Px(510));
  EXPECT_EQ(container.changes.back().bottom - container.changes.back().top, Px(510));
}

TEST_F(ControlOnForm, ShowsEveryLedAndLampInItsOffColourWithFrames) {
  Activate();
  auto face = Snapshot();
  for (int i = 0; i < 13; ++i) {
    COLORREF off = i <= 9 ? kLedOff : kLedOffHigh;
    for (bool left : {true, false}) {
      POINT p = LedCentre(left, i);
      EXPECT_EQ(Rgb(face->At(p.x, p.y)), Rgb(off)) << (left ? "LEDLeft(" : "LEDRight(") << i << ")";
    }
  }
  for (bool left : {true, false}) {
    POINT p = LampCentre(left);
    EXPECT_EQ(Rgb(face->At(p.x, p.y)), Rgb(kLampOff)) << (left ? "left lamp" : "right lamp");
  }
  // Neighbouring cells share their frame: LEDLeft(1) starts at 120 twips, pixel 8.
  EXPECT_EQ(Rgb(face->At(8, 5)), Rgb(Frame()));
  EXPECT_EQ(Rgb(face->At(7, 5)), Rgb(kLedOff));
  EXPECT_EQ(Rgb(face->At(9, 5)), Rgb(kLedOff));
}

TEST_F(ControlOnForm, BackStyleAndBorderStyleShowWhereNoElementCovers) {
  Activate();
  // Between the last LED (ends at 1575 twips) and the lamp (starts at 1680), and the last
  // column (1815 to 1830 twips), where the border lies.
  const POINT gap{Px(1620), Px(127)};
  const POINT edge{Px(1815), Px(127)};
  {
    auto face = Snapshot();  // new control: transparent, fixed single
    EXPECT_EQ(Rgb(face->At(gap.x, gap.y)), Rgb(kFormColor));
    EXPECT_EQ(Rgb(face->At(edge.x, edge.y)), Rgb(Frame()));
  }
  Put(L"BorderStyle", Var::I4(0));
  {
    auto face = Snapshot();
    EXPECT_EQ(Rgb(face->At(edge.x, edge.y)), Rgb(kFormColor));
  }
  Put(L"BackStyle", Var::I4(1));
  {
    auto face = Snapshot();  // opaque in the default grey
    EXPECT_EQ(Rgb(face->At(gap.x, gap.y)), Rgb(RGB(128, 128, 128)));
    EXPECT_EQ(Rgb(face->At(edge.x, edge.y)), Rgb(RGB(128, 128, 128)));
  }
  Put(L"BackColor", Var::I4(static_cast<LONG>(0x8000000F)));  // system colour: button face
  {
    auto face = Snapshot();
    EXPECT_EQ(Rgb(face->At(gap.x, gap.y)), Rgb(GetSysColor(COLOR_BTNFACE)));
  }
  Put(L"BackColor", Var::I4(0x00336699));
  {
    auto face = Snapshot();
    EXPECT_EQ(Rgb(face->At(gap.x, gap.y)), Rgb(RGB(0x99, 0x66, 0x33)));
  }
}

TEST_F(ControlOnForm, HiddenMeterShowsTheGreyPanelOverBothRows) {
  Activate();
  Put(L"ShowVU", Var::Bool(false));
  auto face = Snapshot();
  // Below the caption (Label1 ends 435 twips into the panel): the gradient runs from dark at
  // the left to light at its right end (380 twips), and the button face lies beside it.
  const int y = Px(465);
  COLORREF dark = face->At(3, y);
  COLORREF light = face->At(Px(360), y);
  EXPECT_TRUE(GetRValue(dark) == GetGValue(dark) && GetGValue(dark) == GetBValue(dark))
      << Rgb(dark);
  EXPECT_TRUE(GetRValue(light) == GetGValue(light) && GetGValue(light) == GetBValue(light))
      << Rgb(light);
  EXPECT_LT(GetRValue(dark), 110) << Rgb(dark);
  EXPECT_GT(GetRValue(light), 200) << Rgb(light);
  EXPECT_EQ(Rgb(face->At(Px(900), y)), Rgb(GetSysColor(COLOR_BTNFACE)));
  // No LED or lamp shows through.
  for (POINT p : {LedCentre(true, 5), LedCentre(false, 12), LampCentre(true)}) {
    COLORREF c = face->At(p.x, p.y);
    EXPECT_NE(Rgb(c), Rgb(kLedOff));
    EXPECT_NE(Rgb(c), Rgb(kLedOffHigh));
    EXPECT_NE(Rgb(c), Rgb(kLampOff));
  }
  // The caption: right of the gradient, Label1's area holds dark text on the button face.
  int text = 0;
  for (int x = Px(450); x < Px(1700); ++x)
    for (int row = 2; row < Px(435); ++row)
      if (GetRValue(face->At(x, row)) < 100) ++text;
  EXPECT_GT(text, 20) << "no caption drawn";
}

TEST_F(ControlOnForm, ALampClickedLeavesItDarkRedAndAClickElsewhereDoesNothing) {
  Activate(OLEIVERB_UIACTIVATE);
  EXPECT_EQ(container.ui_activations, 1);
  EXPECT_NE(container.active_object, nullptr);
  for (POINT p : {LampCentre(true), LampCentre(false), LedCentre(true, 3)}) {
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    Pump();
  }
  auto face = Snapshot();
  EXPECT_EQ(Rgb(face->At(LampCentre(true).x, LampCentre(true).y)), Rgb(kLampOff));
  EXPECT_EQ(Rgb(face->At(LampCentre(false).x, LampCentre(false).y)), Rgb(kLampOff));
  EXPECT_EQ(Rgb(face->At(LedCentre(true, 3).x, LedCentre(true, 3).y)), Rgb(kLedOff));
  ASSERT_HRESULT_SUCCEEDED(inplace->UIDeactivate());
  EXPECT_EQ(container.active_object, nullptr);
}

// In a designer, or while the container says its UI is dead, a press on a lamp is not taken:
// the mouse is not captured. In a running form it is, until the release.
TEST_F(ControlOnForm, ALampPressCapturesTheMouseOnlyInARunningForm) {
  Activate();
  const POINT lamp = LampCentre(true);
  const struct {
    bool user_mode, ui_dead, captured;
  } rows[] = {{false, false, false}, {true, true, false}, {true, false, true}};
  for (const auto& row : rows) {
    container.user_mode = row.user_mode;
    container.ui_dead = row.ui_dead;
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(lamp.x, lamp.y));
    EXPECT_EQ(GetCapture() == window, row.captured) << row.user_mode << row.ui_dead;
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(lamp.x, lamp.y));
    EXPECT_NE(GetCapture(), window);
  }
}

TEST_F(ControlOnForm, OnlyTheChangedPartIsRepainted) {
  Activate();
  UpdateWindow(window);
  RECT dirty{};
  EXPECT_FALSE(GetUpdateRect(window, &dirty, FALSE));
  // Hiding the meter changes many elements; setting it again (same values) changes nothing.
  Put(L"ShowVU", Var::Bool(true));
  EXPECT_FALSE(GetUpdateRect(window, &dirty, FALSE)) << "repaint without a change";
  Put(L"BorderStyle", Var::I4(0));
  ASSERT_TRUE(GetUpdateRect(window, &dirty, FALSE));
  EXPECT_EQ(dirty.right - dirty.left, Px(1830));
}

TEST_F(ControlOnForm, ViewObjectDrawsTheFaceIntoTheBoundsAContainerGives) {
  // Not activated: a container that draws its controls itself.
  Canvas canvas(2 * Px(1830), 2 * Px(510));
  canvas.Fill(kFormColor);
  RECTL bounds{0, 0, 2 * Px(1830), 2 * Px(510)};
  ASSERT_HRESULT_SUCCEEDED(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(),
                                      &bounds, nullptr, nullptr, 0));
  for (int i = 0; i < 13; ++i) {
    POINT p = LedCentre(true, i);
    EXPECT_EQ(Rgb(canvas.At(2 * p.x, 2 * p.y)), Rgb(i <= 9 ? kLedOff : kLedOffHigh)) << i;
  }
  POINT lamp = LampCentre(false);
  EXPECT_EQ(Rgb(canvas.At(2 * lamp.x, 2 * lamp.y)), Rgb(kLampOff));
  // Transparent: the container's own drawing stays in the gap.
  EXPECT_EQ(Rgb(canvas.At(2 * Px(1620), 2 * Px(127))), Rgb(kFormColor));

  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.dc(), &bounds, nullptr,
                       nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc(), nullptr,
                       nullptr, nullptr, 0),
            E_INVALIDARG);
}

// What the watchdog saw of the control's message box.
struct SeenBox {
  HWND watched = nullptr;  // a window whose state the watchdog reads while the box shows
  bool watched_enabled = true;
  HWND owner = nullptr;
  std::wstring text;
  bool found = false;
};

// Finds the top-level "Wendrix" box of this process, reads it and presses OK, as a person would.
void PressOkWhenTheBoxShows(SeenBox& seen, std::atomic<bool>& stop) {
  while (!stop) {
    if (HWND box = FindOwnBox()) {
      seen.found = true;
      seen.owner = GetWindow(box, GW_OWNER);
      if (seen.watched) seen.watched_enabled = IsWindowEnabled(seen.watched);
      seen.text = BoxText(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Active in a form, the control's boxes are owned by the form (its window's root ancestor);
// without a window, by no one but task-modal: the thread's windows are disabled all the same,
// even when the host is in the background and has no active window.
TEST_F(ControlOnForm, MessageBoxesAreOwnedByTheFormOrTaskModal) {
  Outcome init;
  InvokeByName(control.Get(), L"Init_DSWendrix", DISPATCH_METHOD, {}, init);
  if (init.hr != S_OK) GTEST_SKIP() << "no recording device";
  Put(L"Enabled", Var::Bool(true));
  ASSERT_NE(GetActiveWindow(), form.window);
  for (const bool active : {true, false}) {
    SCOPED_TRACE(active ? "active" : "without a window");
    if (active) Activate();
    if (!active) {
      ASSERT_HRESULT_SUCCEEDED(inplace->InPlaceDeactivate());
    }
    SeenBox seen;
    seen.watched = form.window;
    std::atomic<bool> stop{false};
    std::thread watchdog(PressOkWhenTheBoxShows, std::ref(seen), std::ref(stop));
    // A file in a folder that does not exist cannot be created: the start reports it in a box.
    Var path = Var::Str(L"Z:\\nonexistent-wendrix-folder\\take.wav");
    Outcome start;
    InvokeByName(control.Get(), L"Wendrix_Start", DISPATCH_METHOD, {&path}, start);
    stop = true;
    watchdog.join();
    ASSERT_HRESULT_SUCCEEDED(start.hr);
    EXPECT_EQ(V_BOOL(&start.result.v), VARIANT_FALSE);
    ASSERT_TRUE(seen.found) << "no message box";
    EXPECT_EQ(seen.owner, active ? form.window : nullptr);
    EXPECT_FALSE(seen.watched_enabled) << "the form took input while the box showed";
    EXPECT_TRUE(IsWindowEnabled(form.window));
    EXPECT_FALSE(seen.text.empty());
  }
  window = nullptr;
  Outcome uninit;
  InvokeByName(control.Get(), L"UnInit_DSWendrix", DISPATCH_METHOD, {}, uninit);
  EXPECT_HRESULT_SUCCEEDED(uninit.hr);
}

// The colour LED `index` shows for `level` (dB), as the meter paints a bank.
COLORREF ExpectedLed(double level, int index) {
  const bool high = index >= 10;
  const COLORREF lit = high ? RGB(255, 128, 0) : RGB(0, 255, 0);
  const COLORREF off = high ? kLedOffHigh : kLedOff;
  if (level < -60) return off;
  const int n = 11 - static_cast<int>(std::floor(std::fabs(level) / 5));
  if (index <= n || (index == 12 && level > -0.5)) return lit;
  return off;
}

// Room for a test machine that holds the thread up for a second or so: a ring of 2 s (ticks
// 0.2 s apart) loses nothing then, so no report of lost audio interrupts the test.
constexpr LONG kRoomyRing = 352800;

double Level(IDispatch* control, const wchar_t* name) {
  Outcome out;
  InvokeByName(control, name, DISPATCH_PROPERTYGET, {}, out);
  EXPECT_HRESULT_SUCCEEDED(out.hr);
  VARIANT x;
  VariantInit(&x);
  if (V_VT(&out.result.v) != VT_CY || FAILED(VariantChangeType(&x, &out.result.v, 0, VT_R8)))
    return -200;  // "No Sound": no slice yet
  return V_R8(&x);
}

// Records the test tone for a moment while pumping messages as a host does, and compares the
// LEDs with the levels the meter reports.
void ControlOnForm::RecordAndCheckTheLeds() {
  Put(L"Enabled", Var::Bool(true));  // a disabled control ignores BufferLength
  Put(L"AutoCalculateBuff", Var::Bool(false));
  Put(L"BufferLength", Var::I4(kRoomyRing));
  Outcome init;
  InvokeByName(control.Get(), L"Init_DSWendrix", DISPATCH_METHOD, {}, init);
  if (init.hr != S_OK) GTEST_SKIP() << "no recording device";
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  std::wstring file = std::wstring(folder) + L"wendrix-window-test.wav";
  Var path = Var::Str(file.c_str());
  Outcome start;
  InvokeByName(control.Get(), L"Wendrix_Start", DISPATCH_METHOD, {&path}, start);
  ASSERT_HRESULT_SUCCEEDED(start.hr);
  ASSERT_EQ(V_BOOL(&start.result.v), VARIANT_TRUE);
  // The host's message loop: ticks arrive through it, nothing else drives the meter.
  const ULONGLONG until = GetTickCount64() + 3000;
  double left = -200;
  while (GetTickCount64() < until && (left = Level(control.Get(), L"dBLeft")) == -200) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  // Let the meter settle on the tone for a few slices more.
  const ULONGLONG settle = GetTickCount64() + 600;
  while (GetTickCount64() < settle) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  left = Level(control.Get(), L"dBLeft");
  const double right = Level(control.Get(), L"dBRight");
  ASSERT_NE(left, -200) << "no tick reached the meter";
  std::printf("levels while recording: left %.4f dB, right %.4f dB\n", left, right);
  {
    auto face = Snapshot();  // at once: the LEDs show the slice the levels came from
    for (int i = 0; i < 13; ++i) {
      POINT l = LedCentre(true, i), r = LedCentre(false, i);
      EXPECT_EQ(Rgb(face->At(l.x, l.y)), Rgb(ExpectedLed(left, i)))
          << "LEDLeft(" << i << ") at " << left << " dB";
      EXPECT_EQ(Rgb(face->At(r.x, r.y)), Rgb(ExpectedLed(right, i)))
          << "LEDRight(" << i << ") at " << right << " dB";
    }
  }
  Outcome stop;
  InvokeByName(control.Get(), L"Wendrix_Stop", DISPATCH_METHOD, {}, stop);
  ASSERT_HRESULT_SUCCEEDED(stop.hr);
  {
    auto face = Snapshot();  // stopped: every LED off
    for (int i = 0; i < 13; ++i) {
      POINT l = LedCentre(true, i);
      EXPECT_EQ(Rgb(face->At(l.x, l.y)), Rgb(ExpectedLed(-100, i))) << "LEDLeft(" << i << ")";
    }
  }
  Outcome uninit;
  InvokeByName(control.Get(), L"UnInit_DSWendrix", DISPATCH_METHOD, {}, uninit);
  DeleteFileW(file.c_str());
}

// Active in a container: ticks come through the control's window.
TEST_F(ControlOnForm, TicksReachTheMeterWhileTheHostPumpsAndTheLedsShowTheLevels) {
  Activate();
  RecordAndCheckTheLeds();
}

// Never activated (a script host, a container that draws the control itself): ticks come
// through the timer's own window.
TEST_F(ControlOnForm, TicksReachTheMeterWithoutAWindowToo) { RecordAndCheckTheLeds(); }

// Counts the control's events.
class EventCounter final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___DSWendrixControl) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return *out = nullptr, E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id == 1) ++level_changes;  // dBOnChangeLeft
    return S_OK;
  }
  ULONG refs = 1;
  int level_changes = 0;
};

// Advises `sink` for the events of `control` and unadvises it when it goes out of scope, also
// when an assertion ends the test early (the sink lives on the test's stack).
class Advised {
 public:
  Advised(IDispatch* control, IDispatch* sink) {
    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(control->QueryInterface(IID_PPV_ARGS(&points))) &&
        SUCCEEDED(points->FindConnectionPoint(DIID___DSWendrixControl, &point_)))
      hr_ = point_->Advise(sink, &cookie_);
  }
  ~Advised() {
    if (SUCCEEDED(hr_)) point_->Unadvise(cookie_);
  }
  HRESULT hr() const { return hr_; }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  HRESULT hr_ = E_FAIL;
};

// Activated and deactivated during a recording: the timer moves with the window and goes on.
TEST_F(ControlOnForm, TicksGoOnWhenTheWindowComesAndGoes) {
  Put(L"Enabled", Var::Bool(true));  // a disabled control ignores BufferLength
  Put(L"AutoCalculateBuff", Var::Bool(false));
  Put(L"BufferLength", Var::I4(kRoomyRing));
  Outcome init;
  InvokeByName(control.Get(), L"Init_DSWendrix", DISPATCH_METHOD, {}, init);
  if (init.hr != S_OK) GTEST_SKIP() << "no recording device";
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  std::wstring file = std::wstring(folder) + L"wendrix-window-move.wav";
  Var path = Var::Str(file.c_str());
  Outcome start;
  InvokeByName(control.Get(), L"Wendrix_Start", DISPATCH_METHOD, {&path}, start);
  ASSERT_EQ(V_BOOL(&start.result.v), VARIANT_TRUE);
  EventCounter counter;
  const Advised advised(control.Get(), &counter);
  ASSERT_HRESULT_SUCCEEDED(advised.hr());
  // The phases begin once the device delivers (a sound server may take a second to start).
  for (const ULONGLONG until = GetTickCount64() + 5000;
       counter.level_changes == 0 && GetTickCount64() < until;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  ASSERT_GT(counter.level_changes, 0) << "the device delivered nothing for 5 s";
  // A container may also destroy the control's window before it deactivates the control.
  for (const std::string phase :
       {"before activation", "active", "window destroyed", "after deactivation", "active again"}) {
    if (phase.starts_with("active")) Activate();
    if (phase == "window destroyed") {
      ASSERT_TRUE(DestroyWindow(window));
      HWND none = nullptr;
      EXPECT_EQ(inplace->GetWindow(&none), E_FAIL);
    }
    if (phase == "after deactivation") {
      ASSERT_HRESULT_SUCCEEDED(inplace->InPlaceDeactivate());
      window = nullptr;
    }
    // Each tick of a metered recording raises dBOnChangeLeft.
    const int before = counter.level_changes;
    const ULONGLONG until = GetTickCount64() + 1200;
    while (GetTickCount64() < until) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      Pump();
    }
    EXPECT_GT(counter.level_changes - before, 2) << "no ticks " << phase;
  }
  Outcome stop;
  InvokeByName(control.Get(), L"Wendrix_Stop", DISPATCH_METHOD, {}, stop);
  EXPECT_EQ(V_BOOL(&stop.result.v), VARIANT_TRUE);
  DeleteFileW(file.c_str());
}

TEST_F(ControlOnForm, ControlInfoHasNoMnemonics) {
  ComPtr<IOleControl> ole_control;
  ASSERT_HRESULT_SUCCEEDED(control.As(&ole_control));
  CONTROLINFO info{};
  info.cb = sizeof info;
  ASSERT_HRESULT_SUCCEEDED(ole_control->GetControlInfo(&info));
  EXPECT_EQ(info.cAccel, 0);
  EXPECT_EQ(info.hAccel, nullptr);
  EXPECT_HRESULT_SUCCEEDED(ole_control->FreezeEvents(TRUE));
  EXPECT_HRESULT_SUCCEEDED(ole_control->FreezeEvents(FALSE));
  EXPECT_HRESULT_SUCCEEDED(ole_control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE));
}

}  // namespace
}  // namespace wendrix::com_test
