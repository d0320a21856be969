// Connection points: sinks connect to the event interface and to property notifications, and
// hear what the control fires, synchronously and without arguments.
#include <functional>

#include "control/com/connection_point.h"
#include "tests/win/com_fixture.h"

namespace wendrix::com_test {
namespace {

// One sink for both outgoing interfaces; it records what it heard.
class Sink final : public IDispatch, public IPropertyNotifySink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID___DSWendrixControl)
      *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IPropertyNotifySink)
      *out = static_cast<IPropertyNotifySink*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    events.push_back(id);
    EXPECT_TRUE(IsEqualIID(riid, IID_NULL));
    EXPECT_EQ(flags, DISPATCH_METHOD);
    EXPECT_TRUE(params && params->cArgs == 0 && params->cNamedArgs == 0);
    EXPECT_EQ(result, nullptr);
    if (on_event) on_event();
    return fail ? E_FAIL : S_OK;
  }
  STDMETHODIMP OnChanged(DISPID id) override {
    changes.push_back(id);
    return S_OK;
  }
  STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

  ULONG refs = 1;
  bool fail = false;
  std::function<void()> on_event;
  std::vector<DISPID> events;
  std::vector<DISPID> changes;
};

// An object that answers neither outgoing interface.
class Stranger final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid != IID_IUnknown) return *out = nullptr, E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

TEST(ComEvents, ControlOffersBothConnectionPoints) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_HRESULT_SUCCEEDED(control.As(&container));
  for (REFIID iid : {DIID___DSWendrixControl, IID_IPropertyNotifySink}) {
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(iid, &point), S_OK);
    IID got{};
    ASSERT_HRESULT_SUCCEEDED(point->GetConnectionInterface(&got));
    EXPECT_TRUE(IsEqualIID(got, iid));
    ComPtr<IConnectionPointContainer> back;
    ASSERT_HRESULT_SUCCEEDED(point->GetConnectionPointContainer(&back));
    EXPECT_EQ(back.Get(), container.Get());
  }
  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &none), CONNECT_E_NOCONNECTION);

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_HRESULT_SUCCEEDED(container->EnumConnectionPoints(&points));
  IConnectionPoint* listed[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(3, listed, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) listed[i]->Release();
  points.Reset();
  container.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

TEST(ComEvents, AdviseAndUnadviseKeepTrackOfSinks) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_HRESULT_SUCCEEDED(control.As(&container));
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID___DSWendrixControl, &point));
  Sink a, b;
  Stranger stranger;
  DWORD ca = 0, cb = 0, cs = 7;
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(&a), &ca), S_OK);
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(&b), &cb), S_OK);
  EXPECT_NE(ca, 0u);
  EXPECT_NE(ca, cb);
  EXPECT_EQ(point->Advise(&stranger, &cs), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cs, 0u);

  ComPtr<IEnumConnections> connections;
  ASSERT_HRESULT_SUCCEEDED(point->EnumConnections(&connections));
  CONNECTDATA data[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].dwCookie, ca);
  EXPECT_EQ(data[1].dwCookie, cb);
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  connections.Reset();

  EXPECT_EQ(point->Unadvise(ca), S_OK);
  EXPECT_EQ(point->Unadvise(ca), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(a.refs, 1u) << "the control let go of the sink";
  // Destroying the control lets go of a sink still connected.
  point.Reset();
  container.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
  EXPECT_EQ(b.refs, 1u);
}

TEST(ComEvents, PropertyChangesReachNotifySinksWithTheirDispIdsAndMakeTheControlDirty) {
  ComPtr<IDispatch> control = CreateControl();
  ASSERT_TRUE(control);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_HRESULT_SUCCEEDED(control.As(&container));
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, &point));
  ComPtr<IPersistStreamInit> persist;
  ASSERT_HRESULT_SUCCEEDED(control.As(&persist));
  ASSERT_HRESULT_SUCCEEDED(persist->InitNew());
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  Sink sink;
  DWORD cookie = 0;
  ASSERT_HRESULT_SUCCEEDED(point->Advise(static_cast<IPropertyNotifySink*>(&sink), &cookie));
  const struct {
    DISPID id;
    LONG value;
  } puts[] = {{0x6803000D, -1}, {0x68030003, 0}, {0x68030006, 0xFF}, {0x6803000C, 22050}};
  for (const auto& p : puts) {
    Var value = Var::I4(p.value);
    Outcome out;
    Invoke(control.Get(), p.id, DISPATCH_PROPERTYPUT, {&value}, out);
    ASSERT_EQ(out.hr, S_OK);
  }
  EXPECT_EQ(sink.changes, (std::vector<DISPID>{0x6803000D, 0x68030003, 0x68030006, 0x6803000C}));
  EXPECT_EQ(persist->IsDirty(), S_OK);

  // A refused value changes nothing and is not announced.
  Var odd = Var::I4(12345);
  Outcome out;
  Invoke(control.Get(), 0x6803000C, DISPATCH_PROPERTYPUT, {&odd}, out);
  EXPECT_EQ(sink.changes.size(), 4u);

  ASSERT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
  point.Reset();
  container.Reset();
  persist.Reset();
  EXPECT_EQ(ReleaseLast(control), 0u);
}

// The control fires its events through its connection point (the recorder that raises OnStart
// and OnStop, and the meter that raises the level events, are driven in the end-to-end tests).
class Owner final : public IConnectionPointContainer {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }
};

TEST(ComEvents, EventsReachEverySinkSynchronouslyWithoutArguments) {
  Owner owner;
  com::ConnectionPoint point(&owner, DIID___DSWendrixControl);
  Sink first, quitter, failing, last;
  DWORD cookies[4] = {};
  Sink* sinks[] = {&first, &quitter, &failing, &last};
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(point.Advise(static_cast<IDispatch*>(sinks[i]), &cookies[i]), S_OK);
  // One sink disconnects itself while the event is delivered, one fails: the rest still hear it.
  quitter.on_event = [&] { point.Unadvise(cookies[1]); };
  failing.fail = true;

  point.Fire(4);  // OnStart
  point.Fire(1);  // dBOnChangeLeft
  EXPECT_EQ(first.events, (std::vector<DISPID>{4, 1}));
  EXPECT_EQ(quitter.events, (std::vector<DISPID>{4}));
  EXPECT_EQ(failing.events, (std::vector<DISPID>{4, 1}));
  EXPECT_EQ(last.events, (std::vector<DISPID>{4, 1}));
  point.Clear();
  for (Sink* s : sinks) EXPECT_EQ(s->refs, 1u);
}

}  // namespace
}  // namespace wendrix::com_test
