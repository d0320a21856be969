#include "control/com/drawing.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/com/module.h"
#include "control/elements.h"

namespace wendrix::com {
namespace {

// The size of the placeable header in front of the panel picture's metafile.
constexpr DWORD kPlaceableHeaderBytes = 22;
// The caption's font height: 8 points.
constexpr int kCaptionTwips = 160;

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

// `r` with left <= right and top <= bottom: in a mapping whose y axis points up (MM_HIMETRIC)
// the face's rectangles come out upside down, which FillRect and FrameRect would skip.
RECT Normal(RECT r) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  return r;
}

// Narrows the DC's clipping region to `r`, in whichever direction its mapping runs.
void ClipTo(HDC dc, const RECT& r) {
  const RECT n = Normal(r);
  IntersectClipRect(dc, n.left, n.top, n.right, n.bottom);
}

// An element shows when it and every parent of it are visible.
bool Shown(int element, win32::ElementsState& elements) {
  for (int e = element; e >= 0; e = ElementTable()[e].parent)
    if (!elements.Visible(e)) return false;
  return true;
}

void Fill(HDC dc, const RECT& r, COLORREF color) {
  GdiObject brush(CreateSolidBrush(color));
  RECT n = Normal(r);
  FillRect(dc, &n, static_cast<HBRUSH>(brush.h));
}

// A flat frame just inside `r`, one screen pixel (15 twips) wide at the face's scale.
void Frame(HDC dc, const RECT& r, const FaceScale& scale) {
  GdiObject brush(CreateSolidBrush(GetSysColor(COLOR_WINDOWFRAME)));
  const auto b = static_cast<HBRUSH>(brush.h);
  const RECT n = Normal(r);
  const int x = std::abs(scale.LineX()), y = std::abs(scale.LineY());
  const RECT sides[] = {{n.left, n.top, n.right, n.top + y},
                        {n.left, n.bottom - y, n.right, n.bottom},
                        {n.left, n.top, n.left + x, n.bottom},
                        {n.right - x, n.top, n.right, n.bottom}};
  for (const RECT& side : sides) FillRect(dc, &side, b);
}

// The mapping records of the panel picture, which the drawing replaces with its own.
int CALLBACK PlayDrawingRecord(HDC dc, HANDLETABLE* table, METARECORD* record, int objects,
                               LPARAM) {
  switch (record->rdFunction) {
    case META_SETMAPMODE:
    case META_SETWINDOWORG:
    case META_SETWINDOWEXT:
    case META_SETVIEWPORTORG:
    case META_SETVIEWPORTEXT:
      return 1;
    default:
      PlayMetaFileRecord(dc, table, record, static_cast<UINT>(objects));
      return 1;
  }
}

// Maps the picture's window (0, 0, width, height) onto `target` (logical units of `dc`).
// A device context (a screen, a printer, an enhanced metafile) gets the target in device units
// through its own mapping; a Windows metafile, which has no device, gets only a window that,
// under the window `meta_window` its player maps, puts the picture on the target, so that the
// recording stays scalable. False when there is no such window: the picture is left out.
bool MapPicture(HDC dc, const RECT& target, int width, int height, const RECT* meta_window) {
  const int target_w = target.right - target.left, target_h = target.bottom - target.top;
  if (GetObjectType(dc) == OBJ_METADC) {
    if (!meta_window || !target_w || !target_h) return false;
    const int window_w = meta_window->right - meta_window->left;
    const int window_h = meta_window->bottom - meta_window->top;
    SetWindowOrgEx(dc, MulDiv(meta_window->left - target.left, width, target_w),
                   MulDiv(meta_window->top - target.top, height, target_h), nullptr);
    SetWindowExtEx(dc, MulDiv(window_w, width, target_w), MulDiv(window_h, height, target_h),
                   nullptr);
    return true;
  }
  POINT corners[2] = {{target.left, target.top}, {target.right, target.bottom}};
  LPtoDP(dc, corners, 2);
  if (GetGraphicsMode(dc) == GM_ADVANCED) ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetWindowExtEx(dc, width, height, nullptr);
  SetViewportOrgEx(dc, corners[0].x, corners[0].y, nullptr);
  SetViewportExtEx(dc, corners[1].x - corners[0].x, corners[1].y - corners[0].y, nullptr);
  return true;
}

// The panel picture (a placeable metafile embedded as resource PANEL), played at its natural
// size (its units are twips) from the interior's top-left, clipped by the interior.
void DrawPanelPicture(HDC dc, const RECT& interior, const FaceScale& scale,
                      const RECT* meta_window) {
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
    ClipTo(dc, interior);
    const RECT natural{interior.left, interior.top,
                       interior.left + scale.X(MulDiv(width, 1440, per_inch)),
                       interior.top + scale.Y(MulDiv(height, 1440, per_inch))};
    if (MapPicture(dc, natural, width, height, meta_window))
      EnumMetaFile(dc, picture, &PlayDrawingRecord, 0);
  }
  DeleteMetaFile(picture);
}

// A Windows metafile has no device to measure text on, so DrawText cannot break the lines
// there: they are broken on a memory DC with the same font and written with TextOut, centred as
// DrawText centres them.
void DrawCaptionInMetafile(HDC dc, HGDIOBJ font, const std::wstring& text, const RECT& box) {
  HDC measure = CreateCompatibleDC(nullptr);
  if (!measure) return;
  HGDIOBJ old = SelectObject(measure, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(measure, &metrics);
  auto width_of = [&](const std::wstring& line) {
    SIZE extent{};
    GetTextExtentPoint32W(measure, line.c_str(), static_cast<int>(line.size()), &extent);
    return static_cast<int>(extent.cx);
  };
  const int width = box.right - box.left;
  std::vector<std::wstring> lines(1);
  for (size_t at = 0; at <= text.size();) {
    size_t end = std::min(text.find(L' ', at), text.size());
    const std::wstring word = text.substr(at, end - at);
    std::wstring& line = lines.back();
    if (line.empty() || width_of(line + L' ' + word) <= width)
      line += (line.empty() ? L"" : L" ") + word;
    else
      lines.push_back(word);
    at = end + 1;
  }
  const int advance = box.bottom < box.top ? -metrics.tmHeight : metrics.tmHeight;
  for (size_t i = 0; i < lines.size(); ++i)
    TextOutW(dc, box.left + (width - width_of(lines[i])) / 2,
             box.top + advance * static_cast<int>(i), lines[i].c_str(),
             static_cast<int>(lines[i].size()));
  SelectObject(measure, old);
  DeleteDC(measure);
}

void DrawCaption(HDC dc, const RECT& r, const RECT& clip, const FaceScale& scale) {
  // The dialog font at 8 points (160 twips), as large on paper as on the screen. (Made before
  // the DC's state is saved: it is deleted after the state that selects it is restored.)
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfHeight = -std::max(1, std::abs(scale.Y(kCaptionTwips)));
  font.lfWidth = 0;
  GdiObject caption_font(CreateFontIndirectW(&font));
  SavedDc saved(dc);
  ClipTo(dc, clip);
  HGDIOBJ used = caption_font.h ? caption_font.h : GetStockObject(DEFAULT_GUI_FONT);
  SelectObject(dc, used);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  // A fixed buffer: painting allocates nothing that could throw into a window procedure.
  const std::string_view caption = Label1Caption();
  wchar_t text[128];
  const size_t length = std::min(caption.size(), std::size(text));
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<unsigned char>(caption[i]);
  if (GetObjectType(dc) == OBJ_METADC) {
    // Only IViewObject::Draw records metafiles, and it catches what this throws.
    DrawCaptionInMetafile(dc, used, std::wstring(text, length), r);
    return;
  }
  RECT box = r;
  DrawTextW(dc, text, static_cast<int>(length), &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

// The interior of a picture element: inside its frame.
RECT Interior(RECT r, const FaceScale& scale) {
  r.left += scale.LineX();
  r.right -= scale.LineX();
  r.top += scale.LineY();
  r.bottom -= scale.LineY();
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
    RECT parent = Interior(ElementRect(def.parent, scale), scale);
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
              win32::ElementsState& elements, const RECT* meta_window) {
  SavedDc saved(dc);
  ClipTo(dc, area);
  if (surface.BackStyle() != 0) Fill(dc, area, GdiColor(surface.BackColor()));
  for (int e = 0; e < kElementCount; ++e) {
    const ElementDef& def = ElementTable()[e];
    if (def.kind == ElementKind::Timer || !Shown(e, elements)) continue;
    RECT r = Offset(ElementRect(e, scale), area.left, area.top);
    if (def.kind == ElementKind::Label) {
      RECT parent = Interior(Offset(ElementRect(def.parent, scale), area.left, area.top), scale);
      DrawCaption(dc, r, parent, scale);
      continue;
    }
    Fill(dc, r, GdiColor(elements.BackColor(e)));
    if (e == element::Picture1) DrawPanelPicture(dc, Interior(r, scale), scale, meta_window);
    Frame(dc, r, scale);
  }
  if (surface.BorderStyle() != 0) {
    SIZE size = FaceSize(scale, surface);
    RECT border{area.left, area.top, area.left + size.cx, area.top + size.cy};
    Frame(dc, border, scale);
  }
}

}  // namespace wendrix::com
