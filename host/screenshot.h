// A picture of a window's client area, children included, as a 24-bit BMP file.
#pragma once

#include <string>

#include "host/automation.h"

namespace wendrix::host {

// Copies what `window` shows in its client area into `path`; throws HostError when it cannot.
void SaveClientAreaBmp(HWND window, const std::wstring& path);

}  // namespace wendrix::host
