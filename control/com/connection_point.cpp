#include "control/com/connection_point.h"

#include <new>
#include <utility>

#include "control/com/object_count.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

// The enumerators differ only in what they hand out and how an element is copied out.
template <typename Enum, typename Item, const IID* kIid>
class Enumerator final : public Enum {
 public:
  explicit Enumerator(std::vector<Item> items, size_t position = 0)
      : items_(std::move(items)), position_(position) {
    for (Item& item : items_) Hold(item);
    ObjectCreated();
  }
  ~Enumerator() {
    for (Item& item : items_) Drop(item);
    ObjectDestroyed();
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == *kIid) {
      *out = static_cast<Enum*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < items_.size(); ++n, ++position_) {
      out[n] = items_[position_];
      Hold(out[n]);
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = items_.size() - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Copying the items may throw as well as the allocation.
    try {
      *out = new Enumerator(items_, position_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  static void Hold(IConnectionPoint* p) { p->AddRef(); }
  static void Drop(IConnectionPoint* p) { p->Release(); }
  static void Hold(CONNECTDATA& d) { d.pUnk->AddRef(); }
  static void Drop(CONNECTDATA& d) { d.pUnk->Release(); }
  // The formats handed out name no target device: nothing to copy or free.
  static void Hold(FORMATETC&) {}
  static void Drop(FORMATETC&) {}

  LONG refs_ = 1;
  std::vector<Item> items_;
  size_t position_;
};

using PointEnumerator =
    Enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;
using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>;
using FormatEnumerator = Enumerator<IEnumFORMATETC, FORMATETC, &IID_IEnumFORMATETC>;

}  // namespace

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = owner_;
  owner_->AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  ComPtr<IUnknown> wanted;
  // An event sink that only answers IDispatch is called through it all the same.
  if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(wanted.GetAddressOf()))) &&
      (iid_ == IID_IPropertyNotifySink ||
       FAILED(
           sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(wanted.GetAddressOf())))))
    return CONNECT_E_CANNOTCONNECT;
  try {
    sinks_.push_back(Sink{next_cookie_, std::move(wanted)});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *cookie = next_cookie_++;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie == cookie) {
      // Take the sink out of the list before releasing it: its Release may call back in.
      ComPtr<IUnknown> gone = std::move(it->unknown);
      sinks_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

bool ConnectionPoint::Connected(DWORD cookie) const {
  for (const Sink& s : sinks_)
    if (s.cookie == cookie) return true;
  return false;
}

void ConnectionPoint::Fire(DISPID id) {
  DISPPARAMS none{};
  for (const Sink& sink : Sinks()) {
    if (!Connected(sink.cookie)) continue;
    static_cast<IDispatch*>(sink.unknown.Get())
        ->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                 nullptr);
  }
}

void ConnectionPoint::NotifyChanged(DISPID id) {
  for (const Sink& sink : Sinks())
    if (Connected(sink.cookie))
      static_cast<IPropertyNotifySink*>(sink.unknown.Get())->OnChanged(id);
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    std::vector<CONNECTDATA> items;
    for (const Sink& s : sinks_) items.push_back(CONNECTDATA{s.unknown.Get(), s.cookie});
    *out = new ConnectionEnumerator(std::move(items));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CreateConnectionPointEnumerator(std::vector<IConnectionPoint*> points,
                                        IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    *out = new PointEnumerator(std::move(points));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CreateFormatEtcEnumerator(std::vector<FORMATETC> formats, IEnumFORMATETC** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    *out = new FormatEnumerator(std::move(formats));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace wendrix::com
