// The control's face drawn with GDI: the surface's background and border and every visible
// element of the element table at its geometry with its current colour, Picture1 with the panel
// picture and Label1's caption. The same drawing serves the control's window and containers that
// draw the control themselves (IViewObject::Draw).
#pragma once

#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include "platform/win32/host_surface.h"

namespace wendrix::com {

// Twips to device units: x * x_num / x_den from the area's left, likewise for y. On a screen
// x_num is the device's pixels per inch and x_den 1440 (15 twips to a pixel at 96 DPI).
// A scale may be negative: a mapping whose y axis points up (MM_HIMETRIC) draws downwards in
// negative units.
struct FaceScale {
  int x_num = 96, x_den = 1440, y_num = 96, y_den = 1440;
  int X(int twips) const { return MulDiv(twips, x_num, x_den); }
  int Y(int twips) const { return MulDiv(twips, y_num, y_den); }
  // The width of a frame line, one screen pixel (15 twips), at least one unit, with the sign of
  // the scale.
  int LineX() const { return Line(X(15), x_num, x_den); }
  int LineY() const { return Line(Y(15), y_num, y_den); }

 private:
  static int Line(int units, int num, int den) {
    return units ? units : ((num < 0) != (den < 0) ? -1 : 1);
  }
};

// The scale of a device context from its logical pixels per inch.
FaceScale ScaleOf(HDC dc);

// The control's size in device units at `scale`.
SIZE FaceSize(const FaceScale& scale, win32::SurfaceState& surface);

// Draws the face into `dc` with its top-left corner at `area`'s, clipped by `area`, in the
// logical units of `dc` (whatever its mapping; `scale` takes twips to them), with frames and
// the caption's font at that scale. Into a Windows metafile `meta_window` is the window
// (origin and extent) under which the metafile will be played (IViewObject::Draw's
// lprcWBounds), which the panel picture needs to nest its own drawing scalably.
// With background style opaque the area is first filled with the background colour; with
// transparent whatever `dc` holds already (the container's background) stays where no element
// covers it. Picture elements get a flat one-pixel frame in the system's window-frame colour;
// border style fixed single draws the same line round the control's own rectangle, over the
// elements' edges. The DC's state (clipping, objects, modes) is left as it was.
void DrawFace(HDC dc, const RECT& area, const FaceScale& scale, win32::SurfaceState& surface,
              win32::ElementsState& elements, const RECT* meta_window = nullptr);

// The rectangle of `element` (within its parent's chain) relative to the face's top-left, in
// device units at `scale`; empty for the timer.
RECT ElementRect(int element, const FaceScale& scale);

// The topmost visible picture element under `point` (device units relative to the face's
// top-left), or -1.
int ElementAt(POINT point, const FaceScale& scale, win32::ElementsState& elements);

// An OLE colour (RGB or system colour) as a GDI colour; black when it is neither.
COLORREF GdiColor(uint32_t ole_color);

}  // namespace wendrix::com
