// The canvas on a real picture control: a static control with bitmap style, centred image and
// static edge inside a page window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "plot/plot_canvas_win.h"
#include "win32/screen_pixels.h"

namespace {

class PictureControl : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LineViewCanvasTestPage";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    page = CreateWindowExW(0, wc.lpszClassName, L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 420, 300, nullptr,
                           nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    control = CreateWindowExW(WS_EX_STATICEDGE, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE,
                              17, 23, 200, 120, page, reinterpret_cast<HMENU>(5078), wc.hInstance, nullptr);
    ASSERT_NE(control, nullptr);
    UpdateWindow(page);
    Pump();
  }
  void TearDown() override {
    if (page) DestroyWindow(page);
  }

  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  // What the screen shows in the control's client area, as 0x00RRGGBB.
  std::vector<uint32_t> Screen(int width, int height) { return lvtest::ScreenPixels(control, width, height); }

  static std::vector<uint32_t> Pixels(const PlotCanvas& c) {
    return std::vector<uint32_t>(c.Pixels(), c.Pixels() + c.plotWidth * c.plotHeight);
  }

  HWND page = nullptr;
  HWND control = nullptr;
};

TEST_F(PictureControl, NewCanvasIsBlackSizedToTheClientAreaAndAttached) {
  RECT client;
  GetClientRect(control, &client);
  PlotCanvas* canvas = CreatePlotCanvas(control);
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->plotWidth, client.right);
  EXPECT_EQ(canvas->plotHeight, client.bottom);
  EXPECT_EQ(canvas->plotWidth, 200 - 2);  // the static edge takes one pixel on each side
  EXPECT_EQ(canvas->clientRect.left, 0);
  EXPECT_EQ(canvas->clientRect.top, 0);
  EXPECT_EQ(canvas->clientRect.right, client.right);
  // plotRect: the client area in page coordinates, offset by the control's place and edge.
  POINT origin{0, 0};
  MapWindowPoints(control, page, &origin, 1);
  EXPECT_EQ(origin.x, 18);
  EXPECT_EQ(canvas->plotRect.left, origin.x);
  EXPECT_EQ(canvas->plotRect.top, origin.y);
  EXPECT_EQ(canvas->plotRect.right, origin.x + client.right);
  EXPECT_EQ(canvas->plotRect.bottom, origin.y + client.bottom);
  for (int i = 0; i < canvas->plotWidth; ++i) ASSERT_EQ(canvas->points[i].x, i);
  for (uint32_t p : Pixels(*canvas)) ASSERT_EQ(p, 0u);

  // Attached: the control's image is a black 32-bpp DIB of the canvas's size. The canvas draws
  // elsewhere (its double buffer): the bitmap takes only whole pictures.
  HBITMAP image = reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  ASSERT_NE(image, nullptr);
  DIBSECTION section{};
  ASSERT_EQ(GetObjectW(image, sizeof section, &section), static_cast<int>(sizeof section));
  EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
  EXPECT_EQ(section.dsBm.bmWidth, canvas->plotWidth);
  EXPECT_EQ(section.dsBm.bmHeight, canvas->plotHeight);
  EXPECT_NE(section.dsBm.bmBits, static_cast<void*>(canvas->Pixels()));
  const auto* shown = static_cast<const uint32_t*>(section.dsBm.bmBits);
  for (int i = 0; i < canvas->plotWidth * canvas->plotHeight; ++i) ASSERT_EQ(shown[i], 0u) << i;
  // The centred image does not resize the control.
  RECT after;
  GetClientRect(control, &after);
  EXPECT_EQ(after.right, client.right);
  EXPECT_EQ(after.bottom, client.bottom);

  // The control paints the black canvas.
  InvalidateRect(control, nullptr, TRUE);
  UpdateWindow(control);
  EXPECT_EQ(Screen(canvas->plotWidth, canvas->plotHeight), Pixels(*canvas));

  DestroyPlotCanvas(canvas);
  EXPECT_EQ(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  EXPECT_EQ(GetObjectType(image), 0u);  // deleted
}

TEST_F(PictureControl, PresentShowsThePictureAndTheControlRepaintsIt) {
  PlotCanvas* canvas = CreatePlotCanvas(control);
  ASSERT_NE(canvas, nullptr);
  const int w = canvas->plotWidth, h = canvas->plotHeight;
  std::vector<int32_t> wave(300);
  for (int i = 0; i < 300; ++i) wave[i] = (i * 7) % 256;
  canvas->Clear(0x400000);
  canvas->DrawGrid(20, 16, 0x005C00);
  canvas->PlotSeries(wave.data(), 300, 0x0000FF, kRopMergePen, Outline, 1, 255);
  canvas->PlotSeries(wave.data(), 300, 0x00FF00, kRopMergePen, Fill, 1, 400);
  canvas->DrawScaledLine(0, 16, 1000, 16, 0xFFFF00, kRopCopyPen, 1000, 255);
  for (uint32_t p : Pixels(*canvas)) ASSERT_EQ(p >> 24, 0u);  // alpha stays 0
  const std::vector<uint32_t> first = Pixels(*canvas);
  // Presenting leaves the copy to the screen to the control's paint on this (the window) thread.
  canvas->Present();
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), first);

  // Nothing outside the client area is touched: the page around the control keeps its colour.
  HDC pageDc = GetDC(page);
  const COLORREF beside = GetPixel(pageDc, canvas->plotRect.right + 5, canvas->plotRect.top + 5);
  ReleaseDC(page, pageDc);
  EXPECT_EQ(beside, GetSysColor(COLOR_BTNFACE));

  // Drawn but not presented: a repaint of the control still shows the last presented picture.
  canvas->Clear(0x000080);
  canvas->DrawGrid(4, 4, 0xFFFFFF);
  const std::vector<uint32_t> second = Pixels(*canvas);
  InvalidateRect(control, nullptr, TRUE);
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), first);
  // Presented, it shows; and so again after the next repaint.
  canvas->Present();
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), second);
  InvalidateRect(control, nullptr, TRUE);
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), second);
  // Pictures presented faster than the control paints: the paint shows the newest.
  for (uint32_t colour : {0x112233u, 0x445566u, 0x778899u}) {
    canvas->Clear(colour);
    canvas->Present();
  }
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), std::vector<uint32_t>(static_cast<size_t>(w) * h, 0x998877u));
  DestroyPlotCanvas(canvas);
}

// The page's two pictures, as the frame thread draws them: a background, a grid, a trace. The
// second is drawn in two halves, with a pause between them in which the window repaints.
struct TwoPictures {
  static void Begin(PlotCanvas& c, int picture) {
    c.Clear(picture == 0 ? 0x400000 : 0x000080);
    c.DrawGrid(20, 16, 0x005C00);
  }
  static void End(PlotCanvas& c, int picture) {
    std::vector<int32_t> wave(300);
    for (int i = 0; i < 300; ++i) wave[i] = picture == 0 ? (i * 7) % 256 : 255 - (i * 3) % 256;
    c.PlotSeries(wave.data(), 300, 0x0000FF, kRopMergePen, Outline, 1, 255);
  }
  // The whole picture, drawn by a canvas of its own.
  static std::vector<uint32_t> Whole(int width, int height, int picture) {
    PlotCanvas c(width, height);
    Begin(c, picture);
    End(c, picture);
    return std::vector<uint32_t>(c.Pixels(), c.Pixels() + width * height);
  }
};

// Draws picture 1 on a thread of its own, as the frame thread does, and has this (the window)
// thread repaint the control in the middle of it. Returns what the screen showed then.
std::vector<uint32_t> RepaintWhileDrawing(PlotCanvas* canvas, HWND control) {
  HANDLE halfDrawn = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE repainted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread frameThread([&] {
    TwoPictures::Begin(*canvas, 1);
    SetEvent(halfDrawn);
    WaitForSingleObject(repainted, 10000);
    TwoPictures::End(*canvas, 1);
    canvas->Present();
  });
  WaitForSingleObject(halfDrawn, 10000);
  InvalidateRect(control, nullptr, FALSE);
  UpdateWindow(control);
  const std::vector<uint32_t> screen = lvtest::ScreenPixels(control, canvas->plotWidth, canvas->plotHeight);
  SetEvent(repainted);
  frameThread.join();
  CloseHandle(halfDrawn);
  CloseHandle(repainted);
  return screen;
}

// The window repaints while the frame thread draws the next picture: it shows the last whole
// picture, never one half drawn; the new one follows once presented. With the environment
// variable LINEVIEW_TEST_SINGLE_BUFFER set the double buffer is off, and this test fails.
TEST_F(PictureControl, ARepaintDuringDrawingShowsTheLastWholePicture) {
  const bool singleBuffer = std::getenv("LINEVIEW_TEST_SINGLE_BUFFER") != nullptr;
  SetPlotCanvasDoubleBuffer(!singleBuffer);
  PlotCanvas* canvas = CreatePlotCanvas(control);
  SetPlotCanvasDoubleBuffer(true);
  ASSERT_NE(canvas, nullptr);
  const int w = canvas->plotWidth, h = canvas->plotHeight;
  TwoPictures::Begin(*canvas, 0);
  TwoPictures::End(*canvas, 0);
  canvas->Present();
  UpdateWindow(control);
  ASSERT_EQ(Screen(w, h), TwoPictures::Whole(w, h, 0));

  EXPECT_EQ(RepaintWhileDrawing(canvas, control), TwoPictures::Whole(w, h, 0))
      << "a repaint during drawing showed a picture half drawn";
  UpdateWindow(control);
  EXPECT_EQ(Screen(w, h), TwoPictures::Whole(w, h, 1));
  DestroyPlotCanvas(canvas);
}

// The check above catches a torn picture: without the double buffer (the test hook) the same
// repaint shows the second picture's background and grid without its trace.
TEST_F(PictureControl, WithoutTheDoubleBufferARepaintShowsHalfAPicture) {
  SetPlotCanvasDoubleBuffer(false);
  PlotCanvas* canvas = CreatePlotCanvas(control);
  SetPlotCanvasDoubleBuffer(true);
  ASSERT_NE(canvas, nullptr);
  const int w = canvas->plotWidth, h = canvas->plotHeight;
  TwoPictures::Begin(*canvas, 0);
  TwoPictures::End(*canvas, 0);
  canvas->Present();
  UpdateWindow(control);
  ASSERT_EQ(Screen(w, h), TwoPictures::Whole(w, h, 0));

  const std::vector<uint32_t> torn = RepaintWhileDrawing(canvas, control);
  EXPECT_NE(torn, TwoPictures::Whole(w, h, 0));
  EXPECT_NE(torn, TwoPictures::Whole(w, h, 1));
  PlotCanvas half(w, h);
  TwoPictures::Begin(half, 1);
  EXPECT_EQ(torn, std::vector<uint32_t>(half.Pixels(), half.Pixels() + w * h));
  DestroyPlotCanvas(canvas);
}

TEST(PlotCanvasWin, NoControlNoCanvas) {
  EXPECT_EQ(CreatePlotCanvas(nullptr), nullptr);
  DestroyPlotCanvas(nullptr);
}

}  // namespace
