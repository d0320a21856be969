// The control in a strict container that drives it the way VB6 and .NET's ActiveX wrapper do:
// IQuickActivate instead of the separate calls, events frozen while the form loads, in-place
// activation by a site that could host windowless controls, rectangles and clip rectangles from a
// scrolling form, a direct MoveWindow, the container's modeless windows disabled around the
// control's message box, and the advise sinks told of saving and closing. Each step checks what
// it leaves behind.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

constexpr DWORD kMiscStatus = 147857;
constexpr DISPID kLevelLeft = 1, kLevelRight = 2, kOnStop = 3, kOnStart = 4;

// A twips distance at 96 DPI, and in HIMETRIC.
int Px(int twips) { return twips / 15; }
LONG Himetric(int twips) { return MulDiv(twips, 2540, 1440); }

void Pump(int milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  do {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  } while (GetTickCount64() < until);
}

// The form and everything a form gives its control: client site, in-place site (of the kind
// that could host windowless controls), frame, ambient properties, the event sink, the property
// notification sink and the advise sink. It takes the rectangles its control asks for and logs
// what the control tells it.
class Container final : public IOleClientSite,
                        public IOleInPlaceSiteEx,
                        public IOleInPlaceFrame,
                        public IDispatch,
                        public IPropertyNotifySink,
                        public IAdviseSinkEx {
 public:
  Container() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WendrixContainerForm";
    RegisterClassW(&wc);
    form = CreateWindowExW(0, wc.lpszClassName, L"Form", WS_POPUP | WS_CLIPCHILDREN, 50, 50, 400,
                           300, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(form, SW_SHOWNOACTIVATE);
  }
  ~Container() { DestroyWindow(form); }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite || riid == IID_IOleInPlaceSiteEx)
      *out = static_cast<IOleInPlaceSiteEx*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDispatch || riid == DIID___DSWendrixControl)
      *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IPropertyNotifySink)
      *out = static_cast<IPropertyNotifySink*>(this);
    else if (riid == IID_IAdviseSink || riid == IID_IAdviseSinkEx)
      *out = static_cast<IAdviseSinkEx*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

  // IOleClientSite: SaveObject saves the control as a form saves its controls.
  STDMETHODIMP SaveObject() override {
    log.push_back("SaveObject");
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    if (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&persist))) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
      return E_FAIL;
    return persist->Save(stream.Get(), TRUE);
  }
  STDMETHODIMP GetMoniker(DWORD, DWORD which, IMoniker** out) override {
    *out = nullptr;
    if (which != OLEWHICHMK_OBJFULL) return E_FAIL;
    return CreateFileMoniker(L"C:\\forms\\Form1.frm", out);
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override { return *out = nullptr, E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return log.push_back("ShowObject"), S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return ++layout_requests, S_OK; }

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* out) override { return *out = form, S_OK; }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite, IOleInPlaceSiteEx
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return log.push_back("OnInPlaceActivate"), S_OK; }
  STDMETHODIMP OnUIActivate() override { return log.push_back("OnUIActivate"), ui_answer; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, OLEINPLACEFRAMEINFO* info) override {
    *frame = this;
    AddRef();
    *document = nullptr;
    *position = proposed;
    *clip = visible;
    info->fMDIApp = FALSE;
    info->hwndFrame = form;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return log.push_back("OnInPlaceDeactivate"), S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT position) override {
    told.push_back(*position);
    if (object) object->SetObjectRects(position, &visible);
    return S_OK;
  }
  STDMETHODIMP OnInPlaceActivateEx(BOOL* no_redraw, DWORD flags) override {
    log.push_back(flags & ACTIVATE_WINDOWLESS ? "OnInPlaceActivateEx(windowless)"
                                              : "OnInPlaceActivateEx(windowed)");
    return no_redraw ? S_OK : E_POINTER;
  }
  STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override {
    return log.push_back("OnInPlaceDeactivateEx"), S_OK;
  }
  STDMETHODIMP RequestUIActivate() override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    if (active) log.push_back("SetActiveObject");
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL enable) override {
    log.push_back(enable ? "EnableModeless(TRUE)" : "EnableModeless(FALSE)");
    modeless = enable != FALSE;
    return S_OK;
  }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the ambient properties of a running form (negative DISPIDs), and the control's
  // events (1 to 4) as they arrive.
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id > 0) {
      events.push_back(id);
      if (on_event) on_event(id);
      return S_OK;
    }
    if (id == DISPID_AMBIENT_BACKCOLOR && back_color && result) {
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(*back_color);
      return S_OK;
    }
    if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = VARIANT_TRUE;
    return S_OK;
  }

  // IPropertyNotifySink
  STDMETHODIMP OnChanged(DISPID id) override { return changed.push_back(id), S_OK; }
  STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

  // IAdviseSink: the view's (OnViewChange) and the object's (OnSave, OnClose, OnRename).
  STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override { ++data_changes; }
  STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override { ++view_changes; }
  STDMETHODIMP_(void) OnRename(IMoniker*) override { log.push_back("OnRename"); }
  STDMETHODIMP_(void) OnSave() override { log.push_back("OnSave"); }
  STDMETHODIMP_(void) OnClose() override { log.push_back("OnClose"); }
  STDMETHODIMP_(void) OnViewStatusChange(DWORD) override {}

  ULONG refs = 1;
  HWND form = nullptr;
  RECT proposed{10, 20, 10 + Px(3000), 20 + Px(2000)};
  RECT visible{0, 0, 400, 300};
  IOleInPlaceObject* object = nullptr;
  std::vector<std::string> log;
  std::vector<RECT> told;
  std::vector<DISPID> changed, events;
  int view_changes = 0, data_changes = 0, layout_requests = 0;
  std::optional<OLE_COLOR> back_color;  // the ambient BackColor, when the form gives one
  std::atomic<bool> modeless{true};
  HRESULT ui_answer = S_OK;
  std::function<void(DISPID)> on_event;
};

class ContainerTest : public ::testing::Test {
 protected:
  // What VB6 and the .NET wrapper do first: one IQuickActivate call hands over the site and
  // the sinks (the control asks for its site first); the form loads the control after it.
  void SetUp() override {
    control = CreateControl();
    ASSERT_TRUE(control);
    ASSERT_HRESULT_SUCCEEDED(control.As(&ole));
    ASSERT_HRESULT_SUCCEEDED(control.As(&inplace));
    ComPtr<IQuickActivate> quick;
    ASSERT_HRESULT_SUCCEEDED(control.As(&quick));
    QACONTAINER given{};
    given.cbSize = sizeof given;
    given.pClientSite = &container;
    given.pAdviseSink = &container;
    given.pPropertyNotifySink = &container;
    given.pUnkEventSink = static_cast<IDispatch*>(&container);
    given.dwAmbientFlags = QACONTAINER_USERMODE;
    QACONTROL got{};
    got.cbSize = sizeof got;
    got.dwEventCookie = got.dwMiscStatus = 0xDEAD;
    ASSERT_EQ(quick->QuickActivate(&given, &got), S_OK);
    quick_result = got;
  }

  void TearDown() override {
    container.object = nullptr;
    inplace.Reset();
    if (ole) ole->SetClientSite(nullptr);
    ole.Reset();
    if (control) {
      EXPECT_EQ(ReleaseLast(control), 0u);
    }
    // Nothing of the container is held any more: site, sinks and frame all let go.
    EXPECT_EQ(container.refs, 1u);
  }

  void Activate() {
    container.object = inplace.Get();
    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &container, 0, container.form,
                          &container.proposed),
              S_OK);
    ASSERT_HRESULT_SUCCEEDED(inplace->GetWindow(&window));
  }

  void Put(const wchar_t* name, Var value) {
    Outcome out;
    InvokeByName(control.Get(), name, DISPATCH_PROPERTYPUT, {&value}, out);
    ASSERT_HRESULT_SUCCEEDED(out.hr) << "put " << std::string(name, name + wcslen(name));
  }
  bool Call(const wchar_t* name, std::vector<VARIANT*> args = {}) {
    Outcome out;
    InvokeByName(control.Get(), name, DISPATCH_METHOD, std::move(args), out);
    EXPECT_HRESULT_SUCCEEDED(out.hr) << std::string(name, name + wcslen(name));
    return V_VT(&out.result.v) == VT_BOOL && V_BOOL(&out.result.v) != VARIANT_FALSE;
  }

  // Records while the form pumps messages until the meter has shown the tone (the tick that
  // reads a slice lights the LEDs, which the view's sink hears, and raises the level events)
  // and a little longer, and returns the events that came.
  std::vector<DISPID> RecordAMoment(const std::wstring& file) {
    container.events.clear();
    Var path = Var::Str(file.c_str());
    EXPECT_TRUE(Call(L"Wendrix_Start", {&path}));
    const int shown = container.view_changes;
    const ULONGLONG until = GetTickCount64() + 4000;
    while (container.view_changes == shown && GetTickCount64() < until) Pump(50);
    EXPECT_GT(container.view_changes, shown) << "no tick reached the meter";
    Pump(300);
    EXPECT_TRUE(Call(L"Wendrix_Stop"));
    return container.events;
  }

  RECT Placed() const {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, container.form, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  Container container;
  ComPtr<IDispatch> control;
  ComPtr<IOleObject> ole;
  ComPtr<IOleInPlaceObject> inplace;
  QACONTROL quick_result{};
  HWND window = nullptr;
};

TEST_F(ContainerTest, QuickActivationConnectsEverythingAndActivationFallsBackToAWindow) {
  EXPECT_EQ(quick_result.cbSize, sizeof(QACONTROL));
  EXPECT_EQ(quick_result.dwMiscStatus, kMiscStatus);
  EXPECT_NE(quick_result.dwEventCookie, 0u);
  EXPECT_NE(quick_result.dwPropNotifyCookie, 0u);
  EXPECT_EQ(quick_result.dwViewStatus, 0u);
  // A new control on the form; another extent is refused, as SetExtent refuses it.
  ComPtr<IPersistStreamInit> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  ASSERT_EQ(persist->InitNew(), S_OK);
  ComPtr<IQuickActivate> quick;
  ASSERT_HRESULT_SUCCEEDED(control.As(&quick));
  SIZEL big{Himetric(3000), Himetric(2000)}, extent{};
  EXPECT_EQ(quick->SetContentExtent(&big), E_FAIL);
  ASSERT_EQ(quick->GetContentExtent(&extent), S_OK);
  EXPECT_EQ(extent.cx, Himetric(1830));
  EXPECT_EQ(extent.cy, Himetric(510));
  ComPtr<IOleClientSite> site;
  ASSERT_HRESULT_SUCCEEDED(ole->GetClientSite(&site));
  EXPECT_EQ(site.Get(), static_cast<IOleClientSite*>(&container));
  site.Reset();

  // The sinks QuickActivate connected hear a change: the property's DISPID, a new view.
  Put(L"BackStyle", Var::I4(1));
  EXPECT_EQ(container.changed, (std::vector<DISPID>{0x68030005}));
  EXPECT_GT(container.view_changes, 0);
  // A view sink advised with ADVF_PRIMEFIRST hears of the view at once; the content has no
  // index but -1.
  ComPtr<IViewObject> view;
  ASSERT_HRESULT_SUCCEEDED(control.As(&view));
  const int views = container.view_changes;
  ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, &container), S_OK);
  EXPECT_EQ(container.view_changes, views + 1);
  const RECTL bounds{0, 0, 10, 10};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, 0, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr,
                       nullptr, 0),
            DV_E_LINDEX);
  view.Reset();

  // A site that could host it windowless is told the control is windowed, and it is.
  Activate();
  EXPECT_EQ(container.log,
            (std::vector<std::string>{"OnInPlaceActivateEx(windowed)", "ShowObject"}));
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(GetParent(window), container.form);
  EXPECT_TRUE(IsWindowVisible(window));

  // The form drops the control: the sinks are disconnected by their cookies.
  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> events, notify;
  ASSERT_HRESULT_SUCCEEDED(control.As(&points));
  ASSERT_HRESULT_SUCCEEDED(points->FindConnectionPoint(DIID___DSWendrixControl, &events));
  ASSERT_HRESULT_SUCCEEDED(points->FindConnectionPoint(IID_IPropertyNotifySink, &notify));
  EXPECT_EQ(events->Unadvise(quick_result.dwEventCookie), S_OK);
  EXPECT_EQ(notify->Unadvise(quick_result.dwPropNotifyCookie), S_OK);
  EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(container.log.back(), "OnInPlaceDeactivateEx");
}

TEST_F(ContainerTest, KeepsItsSizeAndShowsOnlyTheClippedPart) {
  Activate();
  const int width = Px(1830), height = Px(510);
  RECT placed = Placed();
  EXPECT_EQ(placed.right - placed.left, width);
  EXPECT_EQ(placed.bottom - placed.top, height);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  RECT box{};
  // The whole control is visible: no region.
  EXPECT_EQ(GetWindowRgn(window, region), ERROR);

  // The form scrolled: the control's top 10 pixels lie above the visible part.
  container.visible = RECT{0, 30, 400, 300};
  RECT position{10, 20, 10 + width, 20 + height};
  ASSERT_EQ(inplace->SetObjectRects(&position, &container.visible), S_OK);
  EXPECT_EQ(GetWindowRgn(window, region), SIMPLEREGION);
  GetRgnBox(region, &box);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.top, 10);
  EXPECT_EQ(box.right, width);
  EXPECT_EQ(box.bottom, height);
  placed = Placed();
  EXPECT_EQ(placed.right - placed.left, width);
  EXPECT_EQ(placed.bottom - placed.top, height);
  SIZEL extent{};
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(extent.cx, Himetric(1830));
  EXPECT_EQ(extent.cy, Himetric(510));

  // The form sizes the window itself: it moves, its size stays.
  MoveWindow(window, 40, 50, 100, 20, TRUE);
  placed = Placed();
  EXPECT_EQ(placed.left, 40);
  EXPECT_EQ(placed.top, 50);
  EXPECT_EQ(placed.right - placed.left, width);
  EXPECT_EQ(placed.bottom - placed.top, height);
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(extent.cy, Himetric(510));

  // An empty clip rectangle leaves the control unclipped, as ATL's controls take it.
  const RECT nothing{}, here = Placed();
  ASSERT_EQ(inplace->SetObjectRects(&here, &nothing), S_OK);
  EXPECT_EQ(GetWindowRgn(window, region), ERROR);

  // Scrolled back into view: the region goes. Then a size of its own is told from where the
  // form put it last.
  container.visible = RECT{0, 0, 400, 300};
  position = RECT{40, 50, 40 + width, 50 + height};
  container.told.clear();
  ASSERT_EQ(inplace->SetObjectRects(&position, &container.visible), S_OK);
  EXPECT_EQ(GetWindowRgn(window, region), ERROR);
  EXPECT_TRUE(container.told.empty());
  MoveWindow(window, 60, 70, width, height, TRUE);
  // Only a size of its own makes the control ask for a new layout (VB6 reads the extent then).
  EXPECT_EQ(container.layout_requests, 0);
  Put(L"NumChannels", Var::I4(1));
  EXPECT_EQ(container.layout_requests, 1);
  ASSERT_EQ(container.told.size(), 1u);
  EXPECT_EQ(container.told[0].left, 60);
  EXPECT_EQ(container.told[0].top, 70);
  EXPECT_EQ(container.told[0].bottom - container.told[0].top, Px(255));
  DeleteObject(region);
}

TEST_F(ContainerTest, AdviseSinksHearRenameSaveAndClose) {
  Activate();
  DWORD cookie = 0;
  ASSERT_EQ(ole->Advise(&container, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  ComPtr<IEnumSTATDATA> advised;
  ASSERT_EQ(ole->EnumAdvise(&advised), S_OK);
  STATDATA data{};
  ASSERT_EQ(advised->Next(1, &data, nullptr), S_OK);
  EXPECT_EQ(data.dwConnection, cookie);
  EXPECT_EQ(data.pAdvSink, static_cast<IAdviseSink*>(&container));
  if (data.pAdvSink) data.pAdvSink->Release();
  EXPECT_EQ(advised->Next(1, &data, nullptr), S_FALSE);
  advised.Reset();

  container.log.clear();
  ComPtr<IMoniker> folder;
  ASSERT_HRESULT_SUCCEEDED(CreateFileMoniker(L"C:\\forms", &folder));
  EXPECT_EQ(ole->SetMoniker(OLEWHICHMK_CONTAINER, folder.Get()), S_OK);
  folder.Reset();
  // A changed control closed with "save if dirty" is saved by its form, then closes.
  Put(L"BorderStyle", Var::I4(0));
  EXPECT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
  EXPECT_EQ(container.log, (std::vector<std::string>{"OnRename", "OnInPlaceDeactivateEx",
                                                     "SaveObject", "OnSave", "OnClose"}));
  EXPECT_FALSE(IsWindow(window));

  // Saved: closing again saves nothing. Unadvised: nothing is heard.
  container.log.clear();
  EXPECT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
  EXPECT_EQ(container.log, (std::vector<std::string>{"OnClose"}));
  EXPECT_EQ(ole->Unadvise(cookie), S_OK);
  EXPECT_EQ(ole->Unadvise(cookie), OLE_E_NOCONNECTION);
  container.log.clear();
  EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_TRUE(container.log.empty());
}

TEST_F(ContainerTest, EventsFrozenWhileTheFormLoadsAreDroppedAndFlowWhenReleased) {
  // The saved form: a control that records.
  ComPtr<IStream> saved;
  {
    ComPtr<IDispatch> designed = CreateControl();
    ASSERT_TRUE(designed);
    Outcome put;
    Var on = Var::Bool(true);
    InvokeByName(designed.Get(), L"Enabled", DISPATCH_PROPERTYPUT, {&on}, put);
    ASSERT_HRESULT_SUCCEEDED(put.hr);
    ComPtr<IPersistStreamInit> persist;
    ASSERT_HRESULT_SUCCEEDED(designed.As(&persist));
    ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &saved));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(saved.Get(), TRUE));
    ASSERT_HRESULT_SUCCEEDED(saved->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr));
  }
  ComPtr<IOleControl> ole_control;
  ComPtr<IPersistStreamInit> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&ole_control));
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  // Frozen twice (the form, and a nested load), released once: still frozen.
  ASSERT_EQ(ole_control->FreezeEvents(TRUE), S_OK);
  ASSERT_EQ(ole_control->FreezeEvents(TRUE), S_OK);
  ASSERT_EQ(persist->Load(saved.Get()), S_OK);
  Activate();
  ASSERT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
  if (!Call(L"Init_DSWendrix")) GTEST_SKIP() << "no recording device";
  wchar_t folder[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring file = std::wstring(folder) + L"wendrix-container-test.wav";
  EXPECT_EQ(RecordAMoment(file), std::vector<DISPID>{}) << "while frozen";

  // Released: OnStart, the level events of the ticks, OnStop.
  ASSERT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
  std::vector<DISPID> events = RecordAMoment(file);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.front(), kOnStart);
  EXPECT_EQ(events.back(), kOnStop);
  EXPECT_TRUE(std::all_of(events.begin() + 1, events.end() - 1,
                          [](DISPID id) { return id == kLevelLeft || id == kLevelRight; }));
  EXPECT_GT(std::count(events.begin(), events.end(), kLevelLeft), 0);

  // An unfreeze too many does not count ahead: the next freeze holds.
  ASSERT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
  ASSERT_EQ(ole_control->FreezeEvents(TRUE), S_OK);
  EXPECT_EQ(RecordAMoment(file), std::vector<DISPID>{}) << "frozen again";
  ASSERT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
  Call(L"UnInit_DSWendrix");
  DeleteFileW(file.c_str());
}

// Presses OK on this process's "Wendrix" box, noting whether the form's modeless windows were
// disabled while it showed.
void PressOkWhenTheBoxShows(const Container& container, std::atomic<int>& seen,
                            std::atomic<bool>& stop) {
  while (!stop) {
    if (HWND box = FindOwnBox()) {
      seen = container.modeless ? 1 : 2;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST_F(ContainerTest, TheFormsModelessWindowsAreDisabledWhileTheBoxIsUp) {
  Activate();
  if (!Call(L"Init_DSWendrix")) GTEST_SKIP() << "no recording device";
  Put(L"Enabled", Var::Bool(true));
  container.log.clear();
  std::atomic<int> seen{0};  // 1: box seen with modeless windows live, 2: disabled
  std::atomic<bool> stop{false};
  std::thread watchdog(PressOkWhenTheBoxShows, std::cref(container), std::ref(seen),
                       std::ref(stop));
  // A file in a folder that does not exist cannot be created: the start reports it in a box.
  Var path = Var::Str(L"Z:\\nonexistent-wendrix-folder\\take.wav");
  const bool started = Call(L"Wendrix_Start", {&path});
  stop = true;
  watchdog.join();
  EXPECT_FALSE(started);
  EXPECT_EQ(seen, 2) << (seen == 0 ? "no message box" : "modeless windows live under the box");
  EXPECT_EQ(container.log,
            (std::vector<std::string>{"EnableModeless(FALSE)", "EnableModeless(TRUE)"}));
  EXPECT_TRUE(container.modeless);
  Call(L"UnInit_DSWendrix");
}

TEST_F(ContainerTest, VerbsActivateInPlaceAndOnlyUIActivateTakesTheForm) {
  container.object = inplace.Get();
  auto verb = [&](LONG v) {
    return ole->DoVerb(v, nullptr, &container, 0, container.form, &container.proposed);
  };
  // Shown or activated, the control is in place; the form's active control stays where it was.
  EXPECT_EQ(verb(OLEIVERB_SHOW), S_OK);
  EXPECT_EQ(verb(OLEIVERB_PRIMARY), S_OK);
  EXPECT_EQ(verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(verb(7), OLEOBJ_S_INVALIDVERB) << "an unknown verb runs the primary one";
  EXPECT_EQ(verb(-99), E_NOTIMPL);
  EXPECT_EQ(container.log, (std::vector<std::string>{"OnInPlaceActivateEx(windowed)", "ShowObject",
                                                     "ShowObject", "ShowObject", "ShowObject"}));
  // A form that refuses the UI activation keeps the control in place only.
  container.log.clear();
  container.ui_answer = E_FAIL;
  EXPECT_EQ(verb(OLEIVERB_UIACTIVATE), E_FAIL);
  container.ui_answer = S_OK;
  EXPECT_EQ(verb(OLEIVERB_UIACTIVATE), S_OK);
  EXPECT_EQ(container.log, (std::vector<std::string>{"OnUIActivate", "OnUIActivate",
                                                     "SetActiveObject", "ShowObject"}));
}

std::wstring TempFile(const std::wstring& name) {
  wchar_t folder[MAX_PATH];
  EXPECT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  return folder + name;
}

TEST_F(ContainerTest, ASinkUnadvisedByAnEarlierHandlerHearsNothingMore) {
  Activate();
  if (!Call(L"Init_DSWendrix")) GTEST_SKIP() << "no recording device";
  Put(L"Enabled", Var::Bool(true));
  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> events;
  ASSERT_HRESULT_SUCCEEDED(control.As(&points));
  ASSERT_HRESULT_SUCCEEDED(points->FindConnectionPoint(DIID___DSWendrixControl, &events));
  Container later;  // connected after the form's own sink
  DWORD cookie = 0;
  ASSERT_EQ(events->Advise(static_cast<IDispatch*>(&later), &cookie), S_OK);
  // The first handler of OnStart lets the later sink go (VB's `Set x = Nothing`).
  container.on_event = [&](DISPID id) {
    if (id == kOnStart && cookie) events->Unadvise(std::exchange(cookie, 0));
  };
  const std::wstring file = TempFile(L"wendrix-unadvise-test.wav");
  EXPECT_EQ(RecordAMoment(file).front(), kOnStart);
  container.on_event = nullptr;
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(later.events, std::vector<DISPID>{});
  EXPECT_EQ(later.refs, 1u);
  Call(L"UnInit_DSWendrix");
  DeleteFileW(file.c_str());
}

// A view sink that holds its control, as a real form's site object does: a cycle that only the
// control's letting go of the sink can break.
class HoldingSink final : public IAdviseSink {
 public:
  explicit HoldingSink(IUnknown* control) : control_(control) {}
  STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = this, AddRef(), S_OK; }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    if (--refs_) return refs_;
    ComPtr<IUnknown> control = std::move(control_);
    delete this;
    return 0;
  }
  STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override {}
  STDMETHODIMP_(void) OnRename(IMoniker*) override {}
  STDMETHODIMP_(void) OnSave() override {}
  STDMETHODIMP_(void) OnClose() override {}

 private:
  ULONG refs_ = 1;
  ComPtr<IUnknown> control_;
};

TEST_F(ContainerTest, TheFormsTeardownWithoutSetAdviseNullLetsTheLastReleaseFinishTheTake) {
  Activate();
  if (!Call(L"Init_DSWendrix")) GTEST_SKIP() << "no recording device";
  Put(L"Enabled", Var::Bool(true));
  ComPtr<IViewObject> view;
  ASSERT_HRESULT_SUCCEEDED(control.As(&view));
  auto* sink = new HoldingSink(control.Get());
  ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, sink), S_OK);
  sink->Release();
  view.Reset();
  const std::wstring file = TempFile(L"wendrix-teardown-test.wav");
  Var path = Var::Str(file.c_str());
  ASSERT_TRUE(Call(L"Wendrix_Start", {&path}));
  Pump(800);
  // The form's teardown: close, take the site back, let go; never SetAdvise(..., NULL).
  ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
  ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
  container.object = nullptr;
  inplace.Reset();
  ole.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u) << "a sink still holds the control";

  // The take was finished: the RIFF and data sizes are the file's.
  std::string bytes;
  if (FILE* f = _wfopen(file.c_str(), L"rb")) {
    for (int c; (c = fgetc(f)) != EOF;) bytes += static_cast<char>(c);
    fclose(f);
  }
  DeleteFileW(file.c_str());
  auto le32 = [&](size_t at) {
    uint32_t n = 0;
    if (at + 4 <= bytes.size()) memcpy(&n, bytes.data() + at, 4);
    return n;
  };
  const size_t data = bytes.find("data", 12);
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(le32(4), bytes.size() - 8);
  EXPECT_EQ(le32(data + 4), bytes.size() - data - 8);
  EXPECT_GT(le32(data + 4), 0u);
}

// A 32-bit top-down DIB section selected into a memory DC, white at first.
struct Canvas {
  Canvas(int w, int h) : width(w), dc(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    bitmap =
        CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bitmap);
    std::fill(bits, bits + w * h, 0xFFFFFFu);
  }
  ~Canvas() { SelectObject(dc, old), DeleteObject(bitmap), DeleteDC(dc); }
  uint32_t At(int x, int y) const { return bits[y * width + x] & 0xFFFFFFu; }
  int width;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  uint32_t* bits = nullptr;
};

// Colours a shade apart: a gradient drawn at another scale shows the neighbouring shade.
bool Near(uint32_t a, uint32_t b) {
  for (int shift : {0, 8, 16})
    if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > 16)
      return false;
  return true;
}
bool Ink(uint32_t colour) { return (colour & 0xFF) < 128 && (colour >> 16 & 0xFF) < 128; }

// Compares a drawing with the window's pixels, the window's pixel (x, y) against the drawing's
// at the same place of `target` (the drawing's device pixels). A pixel whose eight neighbours
// share its colour must have that colour there; any other (an edge, a frame, a gradient's band,
// which scaling may move by a pixel) must find its colour, or a shade next to it, within a
// window pixel. Text, which a font of another size lays out a little differently, is compared
// by its amount of ink in the caption's box.
void ExpectSameFace(const char* name, const Canvas& shown, SIZE size, const Canvas& drawn,
                    const RECT& target, const RECT& caption) {
  int compared = 0, wrong = 0, edges = 0, edges_wrong = 0;
  double shown_ink = 0, drawn_ink = 0;
  const int tw = target.right - target.left, th = target.bottom - target.top;
  const int reach = std::max(tw / size.cx, th / size.cy) + 1;
  const double area = static_cast<double>(tw) * th / (size.cx * size.cy);
  for (int y = 1; y < size.cy - 1; ++y) {
    for (int x = 1; x < size.cx - 1; ++x) {
      const uint32_t colour = shown.At(x, y);
      const int px = target.left + MulDiv(2 * x + 1, tw, 2 * size.cx);
      const int py = target.top + MulDiv(2 * y + 1, th, 2 * size.cy);
      bool uniform = true, found = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) uniform = uniform && shown.At(x + dx, y + dy) == colour;
      for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx)
          found = found || Near(drawn.At(px + dx, py + dy), colour);
      if (PtInRect(&caption, POINT{x, y}))
        shown_ink += Ink(colour);
      else if (uniform)
        ++compared, wrong += drawn.At(px, py) != colour;
      else
        ++edges, edges_wrong += !found;
    }
  }
  for (int y = target.top + MulDiv(caption.top, th, size.cy);
       y < target.top + MulDiv(caption.bottom, th, size.cy); ++y)
    for (int x = target.left + MulDiv(caption.left, tw, size.cx);
         x < target.left + MulDiv(caption.right, tw, size.cx); ++x)
      drawn_ink += Ink(drawn.At(x, y)) / area;
  EXPECT_GT(compared, 50) << name;
  EXPECT_LE(wrong, compared / 1000) << name << ": " << wrong << " of " << compared;
  EXPECT_LE(edges_wrong, edges / 100) << name << ": " << edges_wrong << " of " << edges << " edges";
  EXPECT_GE(drawn_ink, shown_ink * 0.6) << name << ": the caption's ink";
  EXPECT_LE(drawn_ink, shown_ink * 1.6 + 1) << name << ": the caption's ink";
}

// Draws the face through IViewObject::Draw into an enhanced and a Windows metafile, each
// played at twice the size, and into a DC in MM_HIMETRIC (its y axis points up) with an offset
// viewport, as a printer's may be; each drawing shows the window's face.
void ExpectDrawingsShowTheWindow(IViewObject* view, IOleObject* ole, HWND window,
                                 const RECT& caption) {
  RECT client{};
  GetClientRect(window, &client);
  const SIZE size{client.right, client.bottom};
  Canvas shown(size.cx, size.cy), from_emf(2 * size.cx + 8, 2 * size.cy + 8),
      from_wmf(2 * size.cx + 8, 2 * size.cy + 8), himetric(size.cx + 20, size.cy + 20);
  SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(shown.dc), PRF_CLIENT);
  const RECTL bounds{0, 0, size.cx, size.cy};
  auto draw = [&](HDC dc, const RECTL& where, const RECTL* window_bounds) {
    return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &where, window_bounds,
                      nullptr, 0);
  };
  const RECT twice{0, 0, 2 * size.cx, 2 * size.cy};

  HDC screen = GetDC(nullptr);
  const RECT frame{
      0, 0, MulDiv(size.cx, GetDeviceCaps(screen, HORZSIZE) * 100, GetDeviceCaps(screen, HORZRES)),
      MulDiv(size.cy, GetDeviceCaps(screen, VERTSIZE) * 100, GetDeviceCaps(screen, VERTRES))};
  HDC emf_dc = CreateEnhMetaFileW(screen, nullptr, &frame, nullptr);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(draw(emf_dc, bounds, nullptr), S_OK);
  HENHMETAFILE emf = CloseEnhMetaFile(emf_dc);
  EXPECT_TRUE(PlayEnhMetaFile(from_emf.dc, emf, &twice));
  DeleteEnhMetaFile(emf);

  HDC wmf_dc = CreateMetaFileW(nullptr);
  EXPECT_EQ(draw(wmf_dc, bounds, &bounds), S_OK);
  HMETAFILE wmf = CloseMetaFile(wmf_dc);
  SetMapMode(from_wmf.dc, MM_ANISOTROPIC);
  SetWindowExtEx(from_wmf.dc, size.cx, size.cy, nullptr);
  SetViewportExtEx(from_wmf.dc, twice.right, twice.bottom, nullptr);
  EXPECT_TRUE(PlayMetaFile(from_wmf.dc, wmf));
  DeleteMetaFile(wmf);

  SetMapMode(himetric.dc, MM_HIMETRIC);
  SetViewportOrgEx(himetric.dc, 5, 7, nullptr);
  SIZEL extent{};
  ASSERT_HRESULT_SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(draw(himetric.dc, RECTL{0, 0, extent.cx, -extent.cy}, nullptr), S_OK);
  POINT corners[2] = {{0, 0}, {extent.cx, -extent.cy}};
  LPtoDP(himetric.dc, corners, 2);
  EXPECT_EQ(corners[0].x, 5);
  EXPECT_EQ(corners[0].y, 7);

  // The same face as data, as a document keeps it: a metafile picture of the control's extent
  // played as OleDraw plays it, and an enhanced metafile played into its frame.
  ComPtr<IDataObject> data;
  ASSERT_HRESULT_SUCCEEDED(view->QueryInterface(IID_PPV_ARGS(&data)));
  Canvas from_picture(2 * size.cx + 8, 2 * size.cy + 8),
      from_data_emf(2 * size.cx + 8, 2 * size.cy + 8);
  FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  STGMEDIUM medium{};
  ASSERT_EQ(data->GetData(&format, &medium), S_OK);
  ASSERT_EQ(medium.tymed, static_cast<DWORD>(TYMED_MFPICT));
  auto* picture = static_cast<METAFILEPICT*>(GlobalLock(medium.hMetaFilePict));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->mm, MM_ANISOTROPIC);
  EXPECT_EQ(picture->xExt, extent.cx);
  EXPECT_EQ(picture->yExt, extent.cy);
  SetMapMode(from_picture.dc, picture->mm);
  SetViewportExtEx(from_picture.dc, twice.right, twice.bottom, nullptr);
  EXPECT_TRUE(PlayMetaFile(from_picture.dc, picture->hMF));
  GlobalUnlock(medium.hMetaFilePict);
  ReleaseStgMedium(&medium);
  format = FORMATETC{CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
  ASSERT_EQ(data->GetData(&format, &medium), S_OK);
  ASSERT_EQ(medium.tymed, static_cast<DWORD>(TYMED_ENHMF));
  EXPECT_TRUE(PlayEnhMetaFile(from_data_emf.dc, medium.hEnhMetaFile, &twice));
  ReleaseStgMedium(&medium);

  ExpectSameFace("EMF", shown, size, from_emf, twice, caption);
  ExpectSameFace("WMF", shown, size, from_wmf, twice, caption);
  ExpectSameFace("GetData METAFILEPICT", shown, size, from_picture, twice, caption);
  ExpectSameFace("GetData ENHMETAFILE", shown, size, from_data_emf, twice, caption);
  ExpectSameFace("HIMETRIC", shown, size, himetric,
                 RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y}, caption);
}

TEST_F(ContainerTest, DrawingIntoMetafilesAndAHimetricDcShowsTheWindowsFace) {
  Activate();
  Put(L"BackStyle", Var::I4(1));
  ComPtr<IViewObject> view;
  ASSERT_HRESULT_SUCCEEDED(control.As(&view));
  // While it records, the ticks light LEDs; no message runs while the face is drawn, so it
  // stays as it is.
  if (Call(L"Init_DSWendrix")) {
    Put(L"Enabled", Var::Bool(true));
    const std::wstring file = TempFile(L"wendrix-drawing-test.wav");
    Var path = Var::Str(file.c_str());
    EXPECT_TRUE(Call(L"Wendrix_Start", {&path}));
    const int shown = container.view_changes;
    for (ULONGLONG until = GetTickCount64() + 4000;
         container.view_changes == shown && GetTickCount64() < until;)
      Pump(50);
    SCOPED_TRACE("the meter, recording");
    ExpectDrawingsShowTheWindow(view.Get(), ole.Get(), window, RECT{});
    Call(L"UnInit_DSWendrix");
    DeleteFileW(file.c_str());
  }
  // The panel picture in place of the meter, with the caption over it in Label1 (1770 x 435
  // twips inside Picture1's frame); the picture shows below it.
  Put(L"ShowVU", Var::Bool(false));
  SCOPED_TRACE("the panel");
  ExpectDrawingsShowTheWindow(view.Get(), ole.Get(), window, RECT{1, 1, 1 + Px(1770), 1 + Px(435)});
}

// What a document asks of the data: the two pictures and nothing else, and sinks that hear of
// every change of the face until they are unadvised, or until the form lets the control go.
TEST_F(ContainerTest, DataGivesTwoPicturesAndItsSinksHearTheFaceChange) {
  ComPtr<IDataObject> data;
  ASSERT_HRESULT_SUCCEEDED(control.As(&data));
  FORMATETC picture{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  FORMATETC enhanced{CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
  FORMATETC bitmap{CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
  FORMATETC icon = picture, global = picture;
  icon.dwAspect = DVASPECT_ICON;
  global.tymed = TYMED_HGLOBAL;
  EXPECT_EQ(data->QueryGetData(&picture), S_OK);
  EXPECT_EQ(data->QueryGetData(&enhanced), S_OK);
  EXPECT_EQ(data->QueryGetData(&bitmap), DV_E_FORMATETC);
  EXPECT_EQ(data->QueryGetData(&icon), DV_E_DVASPECT);
  EXPECT_EQ(data->QueryGetData(&global), DV_E_TYMED);
  STGMEDIUM medium{};
  EXPECT_EQ(data->GetData(&bitmap, &medium), DV_E_FORMATETC);
  EXPECT_EQ(medium.tymed, static_cast<DWORD>(TYMED_NULL));
  ComPtr<IEnumFORMATETC> formats;
  ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, &formats), S_OK);
  FORMATETC listed[3]{};
  ULONG n = 0;
  EXPECT_EQ(formats->Next(3, listed, &n), S_FALSE);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(listed[0].cfFormat, picture.cfFormat);
  EXPECT_EQ(listed[0].tymed, picture.tymed);
  EXPECT_EQ(listed[1].cfFormat, enhanced.cfFormat);
  EXPECT_EQ(listed[1].tymed, enhanced.tymed);
  formats.Reset();

  // Primed at once, then told of each change of the face.
  IAdviseSink* sink = &container;
  DWORD cookie = 0, kept = 0;
  ASSERT_EQ(data->DAdvise(&picture, ADVF_PRIMEFIRST, sink, &cookie), S_OK);
  const int primed = container.data_changes;
  EXPECT_GE(primed, 1);
  Put(L"BorderStyle", Var::I4(0));
  EXPECT_EQ(container.data_changes, primed + 1);
  EXPECT_EQ(data->DUnadvise(cookie), S_OK);
  EXPECT_EQ(data->DUnadvise(cookie), OLE_E_NOCONNECTION);
  ASSERT_EQ(data->DAdvise(&enhanced, ADVF_NODATA, sink, &kept), S_OK);
  Put(L"BorderStyle", Var::I4(1));
  EXPECT_EQ(container.data_changes, primed + 2);
  // While it records, a tick that lights many LEDs is told to the view's sink and to the data
  // sinks once (the view's sink also before each level event, as the face stands then).
  Put(L"Enabled", Var::Bool(true));
  if (Call(L"Init_DSWendrix")) {
    const int views = container.view_changes, changes = container.data_changes;
    const std::wstring file = TempFile(L"wendrix-data-test.wav");
    RecordAMoment(file);
    DeleteFileW(file.c_str());
    EXPECT_GT(container.data_changes, changes);
    EXPECT_LE(container.data_changes - changes, container.view_changes - views);
    Call(L"UnInit_DSWendrix");
  }
  // The form never unadvises `kept`: its teardown (SetClientSite(NULL)) lets the sink go.
}

// A transparent face on a white form (its ambient BackColor) shows white where no element
// covers it, never the system's grey; told of another colour, or of none, it shows that.
TEST_F(ContainerTest, ATransparentFaceShowsTheFormsAmbientBackColor) {
  container.back_color = RGB(255, 255, 255);
  Activate();
  auto pixels = [&](COLORREF colour) {
    Canvas face(Px(1830), Px(510));
    std::fill(face.bits, face.bits + Px(1830) * Px(510), 0x030201u);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(face.dc), PRF_CLIENT);
    const uint32_t dib = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
    int n = 0;
    for (int y = 0; y < Px(510); ++y)
      for (int x = 0; x < Px(1830); ++x) n += face.At(x, y) == dib;
    return n;
  };
  ComPtr<IOleControl> ole_control;
  ASSERT_HRESULT_SUCCEEDED(control.As(&ole_control));
  const COLORREF grey = GetSysColor(COLOR_BTNFACE), blue = RGB(0, 0, 255);
  const int white = pixels(RGB(255, 255, 255));
  EXPECT_EQ(pixels(grey), 0);
  EXPECT_GT(white, 100);  // between and around the LEDs
  container.back_color = blue;
  EXPECT_EQ(pixels(blue), 0) << "read again unasked";
  ASSERT_EQ(ole_control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
  EXPECT_EQ(pixels(blue), white);
  container.back_color = 0x80000000 | COLOR_WINDOW;  // a system colour, negative as a Long
  ASSERT_EQ(ole_control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
  EXPECT_EQ(pixels(GetSysColor(COLOR_WINDOW)), white);
  container.back_color.reset();
  ASSERT_EQ(ole_control->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK);
  EXPECT_EQ(pixels(grey), white);
}

// Wine's ATL host window (AtlAxWin) beside an edit box that has the focus: a press and release
// on a lamp reach the control and leave the focus in the edit box.
TEST(AtlHost, AClickOnALampLeavesTheFocusWhereItWas) {
  HMODULE atl = LoadLibraryW(L"atl.dll");
  ASSERT_NE(atl, nullptr);
  using Init = BOOL(WINAPI*)();
  using Attach = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  const auto init =
      reinterpret_cast<Init>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxWinInit")));
  const auto attach = reinterpret_cast<Attach>(
      reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxAttachControl")));
  ASSERT_TRUE(init && attach);
  ASSERT_TRUE(init());
  Container owner;
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 200, 120, 24,
                              owner.form, nullptr, nullptr, nullptr);
  HWND host = CreateWindowExW(0, L"AtlAxWin", nullptr, WS_CHILD | WS_VISIBLE, 10, 10, Px(1830),
                              Px(510), owner.form, nullptr, nullptr, nullptr);
  ASSERT_TRUE(edit && host);
  ComPtr<IDispatch> control = CreateControl();
  ComPtr<IUnknown> site;
  ASSERT_EQ(attach(control.Get(), host, &site), S_OK);
  HWND window = nullptr;
  {
    ComPtr<IOleWindow> ole_window;
    ASSERT_HRESULT_SUCCEEDED(control.As(&ole_window));
    ASSERT_HRESULT_SUCCEEDED(ole_window->GetWindow(&window));
  }
  SetForegroundWindow(owner.form);
  SetFocus(edit);
  Pump(100);
  ASSERT_EQ(GetFocus(), edit);

  POINT lamp{Px(1680) + 4, Px(127)};
  ClientToScreen(window, &lamp);
  SetCursorPos(lamp.x, lamp.y);
  INPUT press{};
  press.type = INPUT_MOUSE;
  press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  ASSERT_EQ(SendInput(1, &press, sizeof press), 1u);
  Pump(100);
  EXPECT_EQ(GetCapture(), window) << "the press did not reach the lamp";
  press.mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ASSERT_EQ(SendInput(1, &press, sizeof press), 1u);
  Pump(100);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(GetFocus(), edit);

  DestroyWindow(host);
  site.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

// The built module and its assembly manifest copied to a folder of their own, and an
// activation context from the manifest: COM loads (and may free) that copy alone, whatever else
// of the module this program holds.
struct PrivateAssembly {
  PrivateAssembly() {
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring built = OcxPath(), from = built.substr(0, built.find_last_of(L'\\'));
    EXPECT_TRUE(CopyFileW(built.c_str(), ocx.c_str(), FALSE));
    EXPECT_TRUE(CopyFileW((from + L"\\Wendrix.manifest").c_str(), manifest.c_str(), FALSE));
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.lpSource = manifest.c_str();
    handle = CreateActCtxW(&context);
  }
  ~PrivateAssembly() {
    if (handle != INVALID_HANDLE_VALUE) ReleaseActCtx(handle);
    DeleteFileW(ocx.c_str()), DeleteFileW(manifest.c_str()), RemoveDirectoryW(folder.c_str());
  }
  bool Loaded() const { return GetModuleHandleW(ocx.c_str()) != nullptr; }
  const std::wstring folder =
      TempFile(L"wendrix-assembly-" + std::to_wstring(GetCurrentProcessId()));
  const std::wstring ocx = folder + L"\\Wendrix.ocx", manifest = folder + L"\\Wendrix.manifest";
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST(RegistrationFree, TheManifestGivesTheClassAndAHeldFactoryKeepsTheModule) {
  PrivateAssembly assembly;
  ASSERT_NE(assembly.handle, INVALID_HANDLE_VALUE) << "CreateActCtx: " << GetLastError();
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(assembly.handle, &cookie));
  // By ProgID and by CLSID, with nothing registered but the manifest. (The ProgID may lead to
  // an alias of the class that only the activation context knows.)
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Wendrix.DSWendrixControl", &clsid), S_OK);
  ComPtr<IPersist> by_name;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&by_name)), S_OK);
  EXPECT_EQ(by_name->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_DSWendrixControl));
  EXPECT_EQ(ReleaseLast(by_name), 0u);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_DSWendrixControl, CLSCTX_INPROC_SERVER, nullptr,
                             IID_PPV_ARGS(&factory)),
            S_OK);
  DWORD misc = 0;
  EXPECT_EQ(OleRegGetMiscStatus(CLSID_DSWendrixControl, DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, kMiscStatus) << "the manifest's miscStatus";
  DeactivateActCtx(0, cookie);
  ASSERT_TRUE(assembly.Loaded()) << "the class came from elsewhere";

  // A host that keeps the factory lets COM free unused libraries between two controls.
  for (int round = 0; round < 2; ++round) {
    CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_TRUE(assembly.Loaded()) << "freed under a held factory";
    ComPtr<IDispatch> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), S_OK);
    EXPECT_EQ(ReleaseLast(control), 0u);
  }
  // Nothing held: the module goes.
  EXPECT_EQ(ReleaseLast(factory), 0u);
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(assembly.Loaded());
}

}  // namespace
}  // namespace wendrix::com_test
