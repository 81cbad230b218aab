#include "plot/plot_canvas_win.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

std::atomic<bool> g_doubleBuffer{true};

const wchar_t kCanvasProperty[] = L"KVP_LineView.PlotCanvas";

// The canvas of a picture control: the control shows a DIB section (STM_SETIMAGE) and paints it
// itself, on the window thread. Presenting only invalidates the control, so the copy to the
// screen is the window thread's paint: the frame thread never draws into a window's context,
// which would wait while the window thread paints (the system locks the window's surface for
// that; a tab switch held frames up for hundreds of milliseconds).
//
// The frame thread never draws into the bitmap the control shows, or a paint meanwhile would
// show half a picture. It draws into one of three pictures of its own; Present hands the
// finished one over through `handover_` and takes back the one lying there. The control's paint
// takes a picture that arrived since its last paint, giving its own in exchange, and copies it
// into the shown bitmap first. Neither thread ever waits for the other: each exchange is one
// atomic operation, and a picture is only ever read or written by the thread that holds it.
class DibPlotCanvas : public PlotCanvas {
 public:
  DibPlotCanvas(HWND frameControl, HBITMAP bitmap, uint32_t* bits, int width, int height, bool doubleBuffer)
      : PlotCanvas(bits, width, height, &DibPlotCanvas::PresentPicture, this),
        frameControl_(frameControl),
        bitmap_(bitmap),
        bits_(bits),
        doubleBuffer_(doubleBuffer) {
    if (!doubleBuffer_) return;  // the test hook's way: drawn straight into the shown bitmap
    const size_t count = static_cast<size_t>(plotWidth) * plotHeight;
    for (std::vector<uint32_t>& p : pictures_) p.assign(count, 0u);  // black, as the bitmap starts
    DrawInto(pictures_[drawing_].data());
  }

  ~DibPlotCanvas() override {
    if (IsWindow(frameControl_)) {
      if (original_ != nullptr &&
          GetWindowLongPtrW(frameControl_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ControlProc)) {
        SetWindowLongPtrW(frameControl_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
      }
      RemovePropW(frameControl_, kCanvasProperty);
      SendMessageW(frameControl_, STM_SETIMAGE, IMAGE_BITMAP, 0);
    }
    DeleteObject(bitmap_);
  }

  // On the window thread, once: the control shows the bitmap, and its paints take new pictures.
  void Attach() {
    SendMessageW(frameControl_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_));
    if (!doubleBuffer_ || !SetPropW(frameControl_, kCanvasProperty, this)) return;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(frameControl_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlProc)));
  }

 private:
  static constexpr int kFresh = 4;  // added to a picture's index in handover_ until the paint takes it

  // Frame thread.
  static void PresentPicture(void* context, const uint32_t*, int, int) {
    auto* self = static_cast<DibPlotCanvas*>(context);
    if (self->doubleBuffer_) {
      const int previous = self->handover_.exchange(self->drawing_ + kFresh, std::memory_order_acq_rel);
      self->drawing_ = previous % kFresh;  // a picture not yet shown is simply drawn over
      self->DrawInto(self->pictures_[self->drawing_].data());
    }
    // The bitmap fills the control's client area: no erase is needed under it.
    InvalidateRect(self->frameControl_, nullptr, FALSE);
  }

  // Window thread: the newest whole picture into the shown bitmap, if one came since the last.
  void TakeNewPicture() {
    if (handover_.load(std::memory_order_acquire) < kFresh) return;
    const int taken = handover_.exchange(shown_, std::memory_order_acq_rel) - kFresh;
    shown_ = taken;
    GdiFlush();  // nothing of GDI's may still be pending on the bitmap's bits
    std::memcpy(bits_, pictures_[taken].data(), pictures_[taken].size() * sizeof(uint32_t));
  }

  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<DibPlotCanvas*>(GetPropW(hwnd, kCanvasProperty));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_PAINT || msg == WM_PRINTCLIENT) self->TakeNewPicture();
    return CallWindowProcW(self->original_, hwnd, msg, wParam, lParam);
  }

  HWND frameControl_;
  HBITMAP bitmap_;
  uint32_t* bits_;
  const bool doubleBuffer_;
  WNDPROC original_ = nullptr;
  std::vector<uint32_t> pictures_[3];
  int drawing_ = 0;  // frame thread's
  int shown_ = 1;    // window thread's: the picture last copied into the bitmap
  std::atomic<int> handover_{2};
};

}  // namespace

void SetPlotCanvasDoubleBuffer(bool on) { g_doubleBuffer.store(on); }

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

  DibPlotCanvas* canvas = nullptr;
  try {
    canvas = new DibPlotCanvas(frameControl, bitmap, static_cast<uint32_t*>(bits), width, height, g_doubleBuffer.load());
  } catch (...) {  // out of memory: no canvas, the page stays blank
    DeleteObject(bitmap);
    return nullptr;
  }
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
