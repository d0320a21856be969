// A connection point of the control: the sinks connected to one outgoing interface. Its
// reference count is its owner's, so a client holding the point keeps the control alive.
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <vector>

namespace wendrix::com {

class ConnectionPoint final : public IConnectionPoint {
 public:
  // `owner` is the control (its IConnectionPointContainer); `iid` the outgoing interface.
  ConnectionPoint(IConnectionPointContainer* owner, REFIID iid) : owner_(owner), iid_(iid) {}

  struct Sink {
    DWORD cookie;
    Microsoft::WRL::ComPtr<IUnknown> unknown;  // the interface `iid` of the sink
  };
  // A copy of the connected sinks, safe to walk while a sink disconnects itself.
  std::vector<Sink> Sinks() const { return sinks_; }
  // Drops every sink (the owner is going away).
  void Clear() { sinks_.clear(); }

  // Calls IDispatch::Invoke(id) with no arguments on every sink connected when the call starts
  // and still connected when its turn comes, synchronously, in the order they connected. A sink
  // may disconnect (itself or another) or fail meanwhile; the others still hear the event, a
  // disconnected one does not (a handler's `Set x = Nothing`).
  void Fire(DISPID id);
  // Calls IPropertyNotifySink::OnChanged(id) on every sink, in the same way.
  void NotifyChanged(DISPID id);

  // IUnknown (forwarded to the owner for the count)
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

 private:
  bool Connected(DWORD cookie) const;

  IConnectionPointContainer* owner_;
  IID iid_;
  std::vector<Sink> sinks_;
  DWORD next_cookie_ = 1;
};

// An enumerator of connection points over a fixed list (the points outlive it through the
// references it holds).
HRESULT CreateConnectionPointEnumerator(std::vector<IConnectionPoint*> points,
                                        IEnumConnectionPoints** out);

// An enumerator of data formats over a fixed list (IDataObject::EnumFormatEtc); the formats
// name no target device.
HRESULT CreateFormatEtcEnumerator(std::vector<FORMATETC> formats, IEnumFORMATETC** out);

}  // namespace wendrix::com
