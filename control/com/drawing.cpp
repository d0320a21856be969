#include "control/com/drawing.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "control/com/module.h"
#include "control/elements.h"

namespace wendrix::com {
namespace {

// The size of the placeable header in front of the panel picture's metafile.
constexpr DWORD kPlaceableHeaderBytes = 22;

// Restores a DC's state (clipping, mapping, selected objects) when it goes.
class SavedDc {
 public:
  explicit SavedDc(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedDc() {
    if (saved_) RestoreDC(dc_, saved_);
  }
  SavedDc(const SavedDc&) = delete;
  SavedDc& operator=(const SavedDc&) = delete;

 private:
  HDC dc_;
  int saved_;
};

struct GdiObject {
  HGDIOBJ h;
  explicit GdiObject(HGDIOBJ object) : h(object) {}
  ~GdiObject() {
    if (h) DeleteObject(h);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
};

RECT Offset(RECT r, int dx, int dy) {
  OffsetRect(&r, dx, dy);
  return r;
}

// An element shows when it and every parent of it are visible.
bool Shown(int element, win32::ElementsState& elements) {
  for (int e = element; e >= 0; e = ElementTable()[e].parent)
    if (!elements.Visible(e)) return false;
  return true;
}

void Fill(HDC dc, const RECT& r, COLORREF color) {
  GdiObject brush(CreateSolidBrush(color));
  FillRect(dc, &r, static_cast<HBRUSH>(brush.h));
}

// A flat single-line frame just inside `r`.
void Frame(HDC dc, const RECT& r) {
  GdiObject brush(CreateSolidBrush(GetSysColor(COLOR_WINDOWFRAME)));
  FrameRect(dc, &r, static_cast<HBRUSH>(brush.h));
}

// The panel picture (a placeable metafile embedded as resource PANEL), played at its natural
// size (its units are twips) from the interior's top-left, clipped by the interior.
void DrawPanelPicture(HDC dc, const RECT& interior, const FaceScale& scale) {
  HMODULE module = ModuleHandle();
  HRSRC found = FindResourceW(module, L"PANEL", reinterpret_cast<LPCWSTR>(RT_RCDATA));
  if (!found) return;
  DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const auto* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (!bytes || size <= kPlaceableHeaderBytes) return;
  const WORD* header = reinterpret_cast<const WORD*>(bytes);
  // Bounding box (left, top, right, bottom) and units per inch of the placeable header.
  int width = static_cast<SHORT>(header[5]) - static_cast<SHORT>(header[3]);
  int height = static_cast<SHORT>(header[6]) - static_cast<SHORT>(header[4]);
  int per_inch = header[7];
  if (width <= 0 || height <= 0 || per_inch <= 0) return;
  HMETAFILE picture =
      SetMetaFileBitsEx(size - kPlaceableHeaderBytes, bytes + kPlaceableHeaderBytes);
  if (!picture) return;
  {
    SavedDc saved(dc);
    IntersectClipRect(dc, interior.left, interior.top, interior.right, interior.bottom);
    // The picture sets its own window extent; the viewport places it at its natural size.
    SetMapMode(dc, MM_ANISOTROPIC);
    SetViewportOrgEx(dc, interior.left, interior.top, nullptr);
    SetViewportExtEx(dc, MulDiv(width * 1440 / per_inch, scale.x_num, scale.x_den),
                     MulDiv(height * 1440 / per_inch, scale.y_num, scale.y_den), nullptr);
    SetWindowExtEx(dc, width, height, nullptr);
    PlayMetaFile(dc, picture);
  }
  DeleteMetaFile(picture);
}

void DrawCaption(HDC dc, const RECT& r, const RECT& clip) {
  SavedDc saved(dc);
  IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  // A fixed buffer: painting allocates nothing that could throw into a window procedure.
  const std::string_view caption = Label1Caption();
  wchar_t text[128];
  const size_t length = std::min(caption.size(), std::size(text));
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<unsigned char>(caption[i]);
  RECT box = r;
  DrawTextW(dc, text, static_cast<int>(length), &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

// The interior of a picture element: inside its frame.
RECT Interior(RECT r) {
  InflateRect(&r, -1, -1);
  return r;
}

}  // namespace

FaceScale ScaleOf(HDC dc) {
  FaceScale scale;
  int x = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
  int y = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (x > 0) scale.x_num = x;
  if (y > 0) scale.y_num = y;
  return scale;
}

SIZE FaceSize(const FaceScale& scale, win32::SurfaceState& surface) {
  return SIZE{scale.X(static_cast<int>(surface.Width())),
              scale.Y(static_cast<int>(surface.Height()))};
}

COLORREF GdiColor(uint32_t ole_color) {
  COLORREF color = 0;
  if (FAILED(OleTranslateColor(ole_color, nullptr, &color))) return RGB(0, 0, 0);
  return color;
}

RECT ElementRect(int element, const FaceScale& scale) {
  const ElementDef& def = ElementTable()[element];
  if (def.kind == ElementKind::Timer) return RECT{};
  RECT r{scale.X(def.left), scale.Y(def.top), scale.X(def.left + def.width),
         scale.Y(def.top + def.height)};
  // A child lies in its parent's interior, inside the parent's frame.
  if (def.parent >= 0) {
    RECT parent = Interior(ElementRect(def.parent, scale));
    r = Offset(r, parent.left, parent.top);
  }
  return r;
}

int ElementAt(POINT point, const FaceScale& scale, win32::ElementsState& elements) {
  // Later elements lie above earlier ones.
  for (int e = kElementCount - 1; e >= 0; --e) {
    if (ElementTable()[e].kind != ElementKind::Picture || !Shown(e, elements)) continue;
    RECT r = ElementRect(e, scale);
    if (PtInRect(&r, point)) return e;
  }
  return -1;
}

void DrawFace(HDC dc, const RECT& area, const FaceScale& scale, win32::SurfaceState& surface,
              win32::ElementsState& elements) {
  SavedDc saved(dc);
  IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
  if (surface.BackStyle() != 0) Fill(dc, area, GdiColor(surface.BackColor()));
  for (int e = 0; e < kElementCount; ++e) {
    const ElementDef& def = ElementTable()[e];
    if (def.kind == ElementKind::Timer || !Shown(e, elements)) continue;
    RECT r = Offset(ElementRect(e, scale), area.left, area.top);
    if (def.kind == ElementKind::Label) {
      RECT parent = Interior(Offset(ElementRect(def.parent, scale), area.left, area.top));
      DrawCaption(dc, r, parent);
      continue;
    }
    Fill(dc, r, GdiColor(elements.BackColor(e)));
    if (e == element::Picture1) DrawPanelPicture(dc, Interior(r), scale);
    Frame(dc, r);
  }
  if (surface.BorderStyle() != 0) {
    SIZE size = FaceSize(scale, surface);
    RECT border{area.left, area.top, area.left + size.cx, area.top + size.cy};
    Frame(dc, border);
  }
}

}  // namespace wendrix::com
