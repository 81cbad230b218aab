// What the screen shows in a window's client area, read back through its device context.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "plot/plot_canvas_win.h"

namespace lvtest {

// The top-left `width` x `height` pixels of `window`'s client area as 0x00RRGGBB.
inline std::vector<uint32_t> ScreenPixels(HWND window, int width, int height) {
  const BITMAPINFO info = CanvasBitmapInfo(width, height);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib == nullptr) return {};
  HDC mem = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(mem, dib);
  HDC screen = GetDC(window);
  BitBlt(mem, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  ReleaseDC(window, screen);
  GdiFlush();
  std::vector<uint32_t> out(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width * height);
  for (uint32_t& p : out) p &= 0x00FFFFFF;
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(dib);
  return out;
}

}  // namespace lvtest
