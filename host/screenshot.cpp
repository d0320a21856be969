#include "host/screenshot.h"

#include <vector>

namespace wendrix::host {

void SaveClientAreaBmp(HWND window, const std::wstring& path) {
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0)
    throw HostError("screenshot: the window has no client area", E_FAIL);

  // The window's own DC reads what the window and its children show on the screen.
  HDC source = GetDC(window);
  if (!source) throw HostError("screenshot: GetDC", HRESULT_FROM_WIN32(GetLastError()));
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores its rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels;
  if (copied) pixels.assign(static_cast<char*>(bits), static_cast<char*>(bits) + stride * height);
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(window, source);
  if (!copied) throw HostError("screenshot: BitBlt", HRESULT_FROM_WIN32(GetLastError()));

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE)
    throw HostError("screenshot: creating " + Utf8(path), HRESULT_FROM_WIN32(GetLastError()));
  DWORD n = 0;
  BOOL ok = WriteFile(out, &file, sizeof file, &n, nullptr) &&
            WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &n, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &n, nullptr);
  DWORD error = GetLastError();
  CloseHandle(out);
  if (!ok) throw HostError("screenshot: writing " + Utf8(path), HRESULT_FROM_WIN32(error));
}

}  // namespace wendrix::host
