// IDataObject: the face as a picture, for containers that keep and draw their objects from data
// rather than through IViewObject. Word, Excel and PowerPoint place a control on a document only
// when it answers IDataObject. The face is rendered at the control's extent into a Windows
// metafile picture (CF_METAFILEPICT on TYMED_MFPICT) or an enhanced metafile (CF_ENHMETAFILE on
// TYMED_ENHMF), by the drawing that serves the window; the container's data sinks, kept by OLE's
// data advise holder, hear of every change of the face as the view's sink does.
//
// No IOleCache: what the containers require of a control is IDataObject; a container that
// caches the picture keeps its own cache and fills it through GetData, as it must for the
// controls ATL builds, which have none either.
#include "control/com/control_object.h"
// (first: the core headers must see MessageBox as it is)

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "control/com/connection_point.h"

namespace wendrix::com {
namespace {

using Microsoft::WRL::ComPtr;

const FORMATETC kFormats[] = {
    {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT},
    {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF},
};

// The one of kFormats that `asked` names, or why there is none. The content is one piece:
// whatever the index names, the whole face is given.
HRESULT Match(const FORMATETC& asked, const FORMATETC** found) {
  for (const FORMATETC& format : kFormats) {
    if (asked.cfFormat != format.cfFormat) continue;
    if (asked.dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!(asked.tymed & format.tymed)) return DV_E_TYMED;
    *found = &format;
    return S_OK;
  }
  return DV_E_FORMATETC;
}

struct MetaDc {
  HDC dc;
  ~MetaDc() {
    if (dc) DeleteMetaFile(CloseMetaFile(dc));
  }
};
struct EnhMetaDc {
  HDC dc;
  ~EnhMetaDc() {
    if (dc) DeleteEnhMetaFile(CloseEnhMetaFile(dc));
  }
};
struct ScreenDc {
  HDC dc = GetDC(nullptr);
  ~ScreenDc() {
    if (dc) ReleaseDC(nullptr, dc);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The renderings

// A Windows metafile is recorded in pixels at 96 DPI under a window of the face's size, which
// the player maps onto its rectangle (MM_ANISOTROPIC); the picture's size is the extent.
HRESULT ControlObject::RenderMetafilePicture(STGMEDIUM* medium) {
  SIZEL extent{};
  GetExtent(DVASPECT_CONTENT, &extent);
  const FaceScale scale;
  const SIZE size = FaceSize(scale, surface_);
  MetaDc meta{CreateMetaFileW(nullptr)};
  if (!meta.dc) return E_OUTOFMEMORY;
  SetWindowOrgEx(meta.dc, 0, 0, nullptr);
  SetWindowExtEx(meta.dc, size.cx, size.cy, nullptr);
  const RECT area{0, 0, size.cx, size.cy};
  DrawFace(meta.dc, area, scale, surface_, elements_, &area);
  HMETAFILE picture = CloseMetaFile(std::exchange(meta.dc, nullptr));
  HGLOBAL global = picture ? GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT)) : nullptr;
  auto* header = global ? static_cast<METAFILEPICT*>(GlobalLock(global)) : nullptr;
  if (!header) {
    if (global) GlobalFree(global);
    if (picture) DeleteMetaFile(picture);
    return E_OUTOFMEMORY;
  }
  header->mm = MM_ANISOTROPIC;
  header->xExt = extent.cx;
  header->yExt = extent.cy;
  header->hMF = picture;
  GlobalUnlock(global);
  medium->tymed = TYMED_MFPICT;
  medium->hMetaFilePict = global;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

// An enhanced metafile's frame is the extent (HIMETRIC is its unit); the face is drawn in the
// screen's device units over that frame, as a player maps them.
HRESULT ControlObject::RenderEnhancedMetafile(STGMEDIUM* medium) {
  SIZEL extent{};
  GetExtent(DVASPECT_CONTENT, &extent);
  ScreenDc screen;
  if (!screen.dc) return E_OUTOFMEMORY;
  const RECT frame{0, 0, extent.cx, extent.cy};
  EnhMetaDc meta{CreateEnhMetaFileW(screen.dc, nullptr, &frame, nullptr)};
  if (!meta.dc) return E_OUTOFMEMORY;
  const RECT area{0, 0,
                  MulDiv(extent.cx, GetDeviceCaps(screen.dc, HORZRES),
                         GetDeviceCaps(screen.dc, HORZSIZE) * 100),
                  MulDiv(extent.cy, GetDeviceCaps(screen.dc, VERTRES),
                         GetDeviceCaps(screen.dc, VERTSIZE) * 100)};
  FaceScale scale;
  scale.x_num = area.right;
  scale.x_den = std::max(1, static_cast<int>(surface_.Width()));
  scale.y_num = area.bottom;
  scale.y_den = std::max(1, static_cast<int>(surface_.Height()));
  DrawFace(meta.dc, area, scale, surface_, elements_);
  HENHMETAFILE picture = CloseEnhMetaFile(std::exchange(meta.dc, nullptr));
  if (!picture) return E_OUTOFMEMORY;
  medium->tymed = TYMED_ENHMF;
  medium->hEnhMetaFile = picture;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

void ControlObject::DataChanged() {
  if (!data_advise_holder_) return;
  if (data_batch_) {
    data_pending_ = true;
    return;
  }
  data_advise_holder_->SendOnDataChange(static_cast<IDataObject*>(this), 0, 0);
}

// ---------------------------------------------------------------------------------------------
// IDataObject

STDMETHODIMP ControlObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  *medium = STGMEDIUM{};
  const FORMATETC* found = nullptr;
  HRESULT hr = Match(*format, &found);
  if (FAILED(hr)) return hr;
  ComPtr<IUnknown> keep(Identity());
  HRESULT rendered = E_UNEXPECTED;
  hr = Guard([&] {
    EnsureInitialized();
    rendered = found->tymed == TYMED_MFPICT ? RenderMetafilePicture(medium)
                                            : RenderEnhancedMetafile(medium);
  });
  return FAILED(hr) ? hr : rendered;
}

// A metafile is a handle made by the object: there is no medium of the caller's to draw it into.
STDMETHODIMP ControlObject::GetDataHere(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  const FORMATETC* found = nullptr;
  HRESULT hr = Match(*format, &found);
  return FAILED(hr) ? hr : DV_E_TYMED;
}

STDMETHODIMP ControlObject::QueryGetData(FORMATETC* format) {
  if (!format) return E_INVALIDARG;
  const FORMATETC* found = nullptr;
  return Match(*format, &found);
}

// The renderings do not depend on a target device: every format is its own canonical one.
STDMETHODIMP ControlObject::GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* out) {
  if (!format || !out) return E_INVALIDARG;
  *out = *format;
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP ControlObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP ControlObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (direction != DATADIR_GET) return E_NOTIMPL;  // nothing can be set
  try {
    return CreateFormatEtcEnumerator(
        std::vector<FORMATETC>(std::begin(kFormats), std::end(kFormats)), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// A sink may ask for any one of the formats, or for all of them (a format of 0, a wildcard).
STDMETHODIMP ControlObject::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                                    DWORD* connection) {
  if (!connection) return E_POINTER;
  *connection = 0;
  if (!format || !sink) return E_INVALIDARG;
  if (format->cfFormat) {
    const FORMATETC* found = nullptr;
    HRESULT hr = Match(*format, &found);
    if (FAILED(hr)) return hr;
  }
  ComPtr<IUnknown> keep(Identity());
  if (!data_advise_holder_) {
    HRESULT hr = CreateDataAdviseHolder(&data_advise_holder_);
    if (FAILED(hr)) return hr;
  }
  // With ADVF_PRIMEFIRST the holder asks for the data (GetData) before it returns.
  return data_advise_holder_->Advise(static_cast<IDataObject*>(this), format, flags, sink,
                                     connection);
}

STDMETHODIMP ControlObject::DUnadvise(DWORD connection) {
  if (!data_advise_holder_) return OLE_E_NOCONNECTION;
  return data_advise_holder_->Unadvise(connection);
}

STDMETHODIMP ControlObject::EnumDAdvise(IEnumSTATDATA** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!data_advise_holder_) {
    HRESULT hr = CreateDataAdviseHolder(&data_advise_holder_);
    if (FAILED(hr)) return hr;
  }
  return data_advise_holder_->EnumAdvise(out);
}

}  // namespace wendrix::com
