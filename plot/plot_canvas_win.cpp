#include "plot/plot_canvas_win.h"

namespace {

// The canvas over a DIB section. Drawing writes the section's bits directly; the control
// selects the bitmap into its own context whenever it repaints. Presenting only invalidates the
// control, so the copy to the screen is the window thread's paint: the frame thread never draws
// into a window's context, which would wait while the window thread paints (the system locks
// the window's surface for that; a tab switch held frames up for hundreds of milliseconds).
class DibPlotCanvas : public PlotCanvas {
 public:
  DibPlotCanvas(HWND frameControl, HWND pageWindow, HBITMAP bitmap, uint32_t* bits, int width, int height)
      : PlotCanvas(bits, width, height, &DibPlotCanvas::PresentBits, this),
        frameControl_(frameControl),
        pageWindow_(pageWindow),
        bitmap_(bitmap) {}

  ~DibPlotCanvas() override {
    if (IsWindow(frameControl_)) SendMessageW(frameControl_, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DeleteObject(bitmap_);
  }

  void Attach() { SendMessageW(frameControl_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_)); }

 private:
  // The bitmap fills the control's client area: no erase is needed under it.
  static void PresentBits(void* context, const uint32_t*, int, int) {
    InvalidateRect(static_cast<DibPlotCanvas*>(context)->frameControl_, nullptr, FALSE);
  }

  HWND frameControl_;
  HWND pageWindow_;
  HBITMAP bitmap_;
};

}  // namespace

BITMAPINFO CanvasBitmapInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

PlotCanvas* CreatePlotCanvas(HWND frameControl) {
  if (!IsWindow(frameControl)) return nullptr;
  HWND page = GetParent(frameControl);
  RECT client{};
  GetClientRect(frameControl, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return nullptr;

  const BITMAPINFO info = CanvasBitmapInfo(width, height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }

  auto* canvas = new DibPlotCanvas(frameControl, page, bitmap, static_cast<uint32_t*>(bits), width, height);
  POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
  for (POINT& p : corners) {
    ClientToScreen(frameControl, &p);
    if (page) ScreenToClient(page, &p);
  }
  canvas->plotRect = PlotRect{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  canvas->Attach();
  return canvas;
}

void DestroyPlotCanvas(PlotCanvas* canvas) { delete canvas; }
