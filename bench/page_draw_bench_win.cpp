// Per-frame cost of each page's drawing under Windows (or Wine), against a straightforward
// GDI version of the same picture: every operation takes the control's DC, makes a memory DC
// for the screen-compatible bitmap, creates its pen or brush, sets mapping mode and raster
// operation, draws with Polyline / MoveToEx+LineTo / SetPixel per column, restores and
// deletes everything, and presenting is a BitBlt.
//
// Both run on a real window: two copies of the page template from KVP_LineView.dll (so the
// picture control 5078 has exactly the size the tool window gives it), the upper one drawn
// by our canvas (DIB section, painted by the control), the lower one by the GDI version. Frames
// alternate between the two, so load from other processes hits both alike.
//
//   page_draw_bench [--frames N] [--warmup N]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/level_histogram.h"
#include "analysis/line_sampling.h"
#include "analysis/page_style.h"
#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "host/test_signals.h"
#include "plot/plot_canvas.h"
#include "plot/plot_canvas_win.h"
#include "plugin/host_contract.h"
#include "resources/resource_ids.h"
#include "settings/settings_table.h"

namespace {

// The bits of the bitmap a picture control shows (our canvas's DIB section), or null.
const uint32_t* ShownBits(HWND control) {
  DIBSECTION section{};
  HBITMAP image = reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  if (image == nullptr || GetObjectW(image, sizeof section, &section) != static_cast<int>(sizeof section)) return nullptr;
  return static_cast<const uint32_t*>(section.dsBm.bmBits);
}

constexpr int kLineWidth = 720;  // 720x576 YUY2: one sample per pixel of the line
constexpr int kLineVariants = 16;  // different noise per frame, cycled
constexpr double kNoiseSigma = 2.0;

// ---------------------------------------------------------------------------------------------
// The GDI version: a screen-compatible bitmap and one self-contained GDI sequence per operation.

class GdiCanvas {
 public:
  explicit GdiCanvas(HWND control) : frame_(control) {
    GetClientRect(frame_, &client_);
    width_ = client_.right - client_.left;
    height_ = client_.bottom - client_.top;
    points_.resize(static_cast<size_t>(width_));
    for (int i = 0; i < width_; ++i) points_[i] = POINT{i, 0};
    HDC dc = GetDC(frame_);
    bitmap_ = CreateCompatibleBitmap(dc, width_, height_);
    ReleaseDC(frame_, dc);
    Clear(0x000000);
    SendMessageW(frame_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_));
  }
  ~GdiCanvas() {
    SendMessageW(frame_, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DeleteObject(bitmap_);
  }
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  bool Valid() const { return bitmap_ != nullptr; }

  void Clear(COLORREF color) {
    Operation op(*this);
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(op.mem, &client_, brush);
    DeleteObject(brush);
  }

  void DrawGrid(int columns, int rows, COLORREF color) {
    Operation op(*this, color);
    if (columns != 0) {
      for (int k = 0; k <= columns; ++k) {
        const int x = MulDiv(k, width_ - 1, columns);
        MoveToEx(op.mem, x, 0, nullptr);
        LineTo(op.mem, x, height_);
      }
    }
    if (rows != 0) {
      for (int k = 0; k <= rows; ++k) {
        const int y = MulDiv(k, height_ - 1, rows);
        MoveToEx(op.mem, 0, y, nullptr);
        LineTo(op.mem, width_, y);
      }
    }
  }

  void DrawLogGrid(int decades, int perDecade, COLORREF color) {
    Operation op(*this, color);
    for (int d = 1; d <= decades; ++d) {
      const double step = (std::pow(10.0, d) - std::pow(10.0, d - 1)) / perDecade;
      for (int j = 1; j <= perDecade; ++j) {
        const double v = j * step;
        const int y = static_cast<int>(std::log10(v) * (height_ - 1) / decades + 0.5);
        const int row = height_ - y - 1;
        MoveToEx(op.mem, 0, row, nullptr);
        LineTo(op.mem, width_, row);
      }
    }
    MoveToEx(op.mem, 0, 0, nullptr);
    LineTo(op.mem, width_, 0);
  }

  void PlotSeries(const int32_t* values, int count, COLORREF color, int rasterOp, int style, int interpolate,
                  int fullScale) {
    for (int i = 0; i < width_; ++i) {
      const double v = Sample(values, count, i, interpolate);
      points_[i].y = static_cast<int>(v * (height_ - 1) / fullScale + 0.5);
    }
    DrawPoints(color, rasterOp, style);
  }

  void PlotSeries(const double* values, int count, COLORREF color, int rasterOp, int style, int interpolate,
                  double fullScale) {
    for (int i = 0; i < width_; ++i) {
      const double v = Sample(values, count, i, interpolate);
      points_[i].y = static_cast<int>(v * (1.0 / fullScale) * (height_ - 1) + 0.5);
    }
    DrawPoints(color, rasterOp, style);
  }

  void DrawPoints(COLORREF color, int rasterOp, int style) {
    Operation op(*this, color);
    SetMapMode(op.mem, MM_ANISOTROPIC);
    SetWindowExtEx(op.mem, 1, 1, nullptr);
    SetViewportExtEx(op.mem, 1, -1, nullptr);
    SetViewportOrgEx(op.mem, 0, height_ - 1, nullptr);
    SetROP2(op.mem, rasterOp);
    switch (style) {
      case Outline:
        Polyline(op.mem, points_.data(), width_);
        SetPixel(op.mem, points_[width_ - 1].x, points_[width_ - 1].y, color);
        break;
      case Fill:
        for (int i = 0; i < width_; ++i) {
          MoveToEx(op.mem, i, 0, nullptr);
          LineTo(op.mem, i, points_[i].y);
          SetPixel(op.mem, i, points_[i].y, color);
        }
        break;
      case Points:
        for (int i = 0; i < width_; ++i) SetPixel(op.mem, points_[i].x, points_[i].y, color);
        break;
      default:
        break;
    }
  }

  void DrawScaledLine(int x1, int y1, int x2, int y2, COLORREF color, int rasterOp, int extentX, int extentY) {
    Operation op(*this, color);
    SetMapMode(op.mem, MM_ANISOTROPIC);
    SetWindowExtEx(op.mem, extentX, extentY, nullptr);
    SetViewportExtEx(op.mem, width_ - 1, 1 - height_, nullptr);
    SetViewportOrgEx(op.mem, 0, height_ - 1, nullptr);
    SetROP2(op.mem, rasterOp);
    MoveToEx(op.mem, x1, y1, nullptr);
    LineTo(op.mem, x2, y2);
    SetPixel(op.mem, x2, y2, color);
  }

  void Present() {
    Operation op(*this);
    BitBlt(op.dc, 0, 0, width_, height_, op.mem, 0, 0, SRCCOPY);
  }

  // The bitmap as 0x00RRGGBB words, rows top-down (for comparing with our canvas).
  std::vector<uint32_t> ReadPixels() const {
    std::vector<uint32_t> pixels(static_cast<size_t>(width_) * height_);
    BITMAPINFO info = CanvasBitmapInfo(width_, height_);
    HDC dc = GetDC(frame_);
    GetDIBits(dc, bitmap_, 0, static_cast<UINT>(height_), pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(frame_, dc);
    return pixels;
  }

  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  // One operation's contexts: the control's DC, a compatible memory DC with the bitmap (and a
  // fresh one-pixel pen) selected; everything restored and released at the end.
  struct Operation {
    explicit Operation(const GdiCanvas& canvas) : owner(canvas.frame_) {
      dc = GetDC(owner);
      mem = CreateCompatibleDC(dc);
      oldBitmap = SelectObject(mem, canvas.bitmap_);
    }
    Operation(const GdiCanvas& canvas, COLORREF color) : Operation(canvas) {
      pen = CreatePen(PS_SOLID, 1, color);
      oldPen = SelectObject(mem, pen);
    }
    ~Operation() {
      if (pen) SelectObject(mem, oldPen);
      SelectObject(mem, oldBitmap);
      if (pen) DeleteObject(pen);
      DeleteDC(mem);
      ReleaseDC(owner, dc);
    }
    HWND owner;
    HDC dc = nullptr;
    HDC mem = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HPEN pen = nullptr;
    HGDIOBJ oldPen = nullptr;
  };

  // Column i of the plot onto the series: the whole series spread over the width (or the
  // middle of each column's span when there are more values than columns).
  template <typename T>
  double Sample(const T* values, int count, int i, int interpolate) const {
    const double x = count <= width_ ? i * (1.0 / (width_ - 1)) * (count - 1)
                                     : i * (1.0 / width_) * count + (count / (2.0 * width_) - 0.5);
    int k = static_cast<int>(x);
    const double t = x - k;
    if (k >= count - 1) return static_cast<double>(values[count - 1]);  // rounding past the end
    if (k < 0) k = 0;
    if (interpolate != 1 || t == 0) return static_cast<double>(values[k]);
    return values[k] + (static_cast<double>(values[k + 1]) - values[k]) * t;
  }

  HWND frame_;
  RECT client_{};
  int width_ = 0;
  int height_ = 0;
  HBITMAP bitmap_ = nullptr;
  std::vector<POINT> points_;
};

// ---------------------------------------------------------------------------------------------
// The three pages drawn with the GDI version; the numbers come from the same analysis code.

constexpr COLORREF kScopeTraceColor[ChannelCount] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0xFF0000, 0x0000FF};
constexpr COLORREF kScopeReferenceColor = 0xFFFF00;

struct LineData {
  int32_t* channels[ChannelCount];
};

struct PageBuffers {
  std::vector<double> snrRings[ChannelCount];
  double* snrHistory[ChannelCount];
  int32_t snrIndex[ChannelCount] = {};
  double snrDisplay[3] = {};
  std::vector<double> re, im, magnitude, bins;
  SpectrumTables* tables = nullptr;

  PageBuffers() : re(kFftPoints), im(kFftPoints), magnitude(kFftPoints), bins(kHistogramBins) {
    for (int c = 0; c < ChannelCount; ++c) {
      snrRings[c].assign(kSnrRingLength, 0.0);
      snrHistory[c] = snrRings[c].data();
    }
    tables = CreateSpectrumTables();
  }
  ~PageBuffers() { DestroySpectrumTables(tables); }
};

void GdiWaveform(const AnalysisSettings& s, const LineData& line, PageBuffers& b, GdiCanvas& canvas) {
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(20, 16, kPageGridColor);
  MeasureWaveform(s, kLineWidth, line.channels, b.snrHistory, b.snrIndex, b.snrDisplay);
  for (int ch = FirstChannel(s); ch < FirstChannel(s) + 3; ++ch) {
    if (ChannelShown(s, ch))
      canvas.PlotSeries(line.channels[ch], kLineWidth, kScopeTraceColor[ch], kRopMergePen, Outline, 1, 255);
  }
  int white, black, start, stop;
  ClampReferenceLevels(s.WhiteLevel, s.BlackLevel, &white, &black);
  ClampMeasuringInterval(s.StartCount, s.StopCount, &start, &stop);
  canvas.DrawScaledLine(0, black, 1000, black, kScopeReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(0, white, 1000, white, kScopeReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(start, 0, start, 255, kScopeReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(stop, 0, stop, 255, kScopeReferenceColor, kRopCopyPen, 1000, 255);
  canvas.Present();
}

void GdiSpectrum(const AnalysisSettings& st, const LineData& line, PageBuffers& b, GdiCanvas& canvas) {
  const int s = ClampSensitivity(st.FFTSensitivity);
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(27, SpectrumGridRows(s), kPageGridColor);
  for (int ch = FirstChannel(st); ch < FirstChannel(st) + 3; ++ch) {
    if (!ChannelShown(st, ch)) continue;
    ComputeSpectrum(line.channels[ch], kLineWidth, st.WindowFunction, s, b.re.data(), b.im.data(),
                    b.magnitude.data(), b.tables);
    canvas.PlotSeries(b.magnitude.data(), kSpectrumDrawnBins, kAnalyserTraceColor[ch], kRopMergePen, st.FFTDiagMode,
                      1, 10.0 * s);
  }
  canvas.Present();
}

void GdiLevels(const AnalysisSettings& s, const LineData& line, PageBuffers& b, GdiCanvas& canvas) {
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(16, 0, kPageGridColor);
  canvas.DrawLogGrid(3, 9, kPageGridColor);
  for (int ch = FirstChannel(s); ch < FirstChannel(s) + 3; ++ch) {
    if (!ChannelShown(s, ch)) continue;
    ComputeLevelHistogram(line.channels[ch], kLineWidth, b.bins.data());
    canvas.PlotSeries(b.bins.data(), kHistogramBins, kAnalyserTraceColor[ch], kRopMergePen, s.LevDiagMode, 1, 300.0);
  }
  canvas.Present();
}

void OurPage(int mode, const AnalysisSettings& s, const LineData& line, PageBuffers& b, PlotCanvas& canvas) {
  switch (mode) {
    case ModeOscilloscope:
      RenderWaveform(s, kLineWidth, line.channels, b.snrHistory, b.snrIndex, b.snrDisplay, canvas);
      break;
    case ModeSpectrum:
      RenderSpectrum(s, kLineWidth, line.channels, b.re.data(), b.im.data(), b.magnitude.data(), b.tables, canvas);
      break;
    default:
      RenderLevelHistogram(s, kLineWidth, line.channels, b.bins.data(), canvas);
      break;
  }
}

// The numbers alone, without any drawing: what both versions spend before they draw.
void AnalysisOnly(int mode, const AnalysisSettings& st, const LineData& line, PageBuffers& b) {
  if (mode == ModeOscilloscope) {
    MeasureWaveform(st, kLineWidth, line.channels, b.snrHistory, b.snrIndex, b.snrDisplay);
    return;
  }
  const int s = ClampSensitivity(st.FFTSensitivity);
  for (int ch = FirstChannel(st); ch < FirstChannel(st) + 3; ++ch) {
    if (!ChannelShown(st, ch)) continue;
    if (mode == ModeSpectrum) {
      ComputeSpectrum(line.channels[ch], kLineWidth, st.WindowFunction, s, b.re.data(), b.im.data(),
                      b.magnitude.data(), b.tables);
    } else {
      ComputeLevelHistogram(line.channels[ch], kLineWidth, b.bins.data());
    }
  }
}

void GdiPage(int mode, const AnalysisSettings& s, const LineData& line, PageBuffers& b, GdiCanvas& canvas) {
  switch (mode) {
    case ModeOscilloscope: GdiWaveform(s, line, b, canvas); break;
    case ModeSpectrum: GdiSpectrum(s, line, b, canvas); break;
    default: GdiLevels(s, line, b, canvas); break;
  }
}

// ---------------------------------------------------------------------------------------------
// Window, test line, timing.

INT_PTR CALLBACK PageProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG ? TRUE : FALSE; }

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

struct Stats {
  double median;
  double p99;
};

// The same percentile rule as the host's frame-time log.
Stats Summarise(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  const size_t p99 = std::min(t.size() - 1, static_cast<size_t>(double(t.size()) * 0.99));
  return Stats{t[t.size() / 2], t[p99]};
}

// 75 % colour bars of a 720-wide YUY2 line with a little Gaussian noise, a different noise
// per variant, sampled into the six channel arrays as the frame path does.
std::vector<std::vector<int32_t>> MakeLines() {
  std::vector<std::vector<int32_t>> storage(static_cast<size_t>(kLineVariants) * ChannelCount,
                                            std::vector<int32_t>(kLineWidth));
  const int rows = 2;
  std::vector<uint8_t> frame(FrameBytes(kLineWidth, rows, PixelFormatYuy2));
  for (int v = 0; v < kLineVariants; ++v) {
    FillTestSignal(TestSignal::Bars, frame.data(), kLineWidth, rows, PixelFormatYuy2, kNoiseSigma,
                   0x5EEDu + static_cast<uint64_t>(v));
    int32_t* ch[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) ch[c] = storage[static_cast<size_t>(v) * ChannelCount + c].data();
    SampleLineYuy2(frame.data(), kLineWidth, rows, 0, ch[0], ch[1], ch[2], ch[3], ch[4], ch[5]);
  }
  return storage;
}

// A page dialog from the plug-in's own templates, so the picture control has the tool
// window's size; nullptr when the DLL or its template cannot be used.
HWND CreatePage(HMODULE resources, int templateId, HWND parent, int x, int y) {
  if (!resources) return nullptr;
  HWND page = CreateDialogParamW(resources, MAKEINTRESOURCEW(templateId), parent, PageProc, 0);
  if (page) SetWindowPos(page, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
  return page;
}

// Without the DLL: a plain static control of the size the pages' control gets under Wine.
constexpr int kFallbackWidth = 748;
constexpr int kFallbackHeight = 348;

HWND CreateFallbackControl(HWND parent, int x, int y) {
  return CreateWindowExW(WS_EX_STATICEDGE, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE, x, y,
                         kFallbackWidth + 2, kFallbackHeight + 2, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::wstring BesideProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  const size_t slash = p.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1)) + name;
}

struct Variant {
  const char* name;
  int mode;
  int style;  // -1: the default of the settings
};

double Micros(const LARGE_INTEGER& a, const LARGE_INTEGER& b, const LARGE_INTEGER& freq) {
  return double(b.QuadPart - a.QuadPart) * 1e6 / double(freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 300;
  int warmup = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(1, std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--warmup") == 0) warmup = std::max(0, std::atoi(argv[i + 1]));
  }

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"PageDrawBench";
  RegisterClassW(&wc);
  HWND main = CreateWindowExW(0, wc.lpszClassName, L"page_draw_bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000,
                              960, nullptr, nullptr, instance, nullptr);
  if (!main) {
    std::fprintf(stderr, "page_draw_bench: no window\n");
    return 1;
  }

  const std::wstring dllPath = BesideProgram(L"KVP_LineView.dll");
  HMODULE resources = LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  static const int kPageTemplates[3] = {IDD_SCOPE_PAGE, IDD_SPECTRUM_PAGE, IDD_LEVELS_PAGE};

  const AnalysisSettings defaults = DefaultSettings();
  std::vector<std::vector<int32_t>> storage = MakeLines();
  std::vector<LineData> lines(kLineVariants);
  for (int v = 0; v < kLineVariants; ++v)
    for (int c = 0; c < ChannelCount; ++c) lines[v].channels[c] = storage[static_cast<size_t>(v) * ChannelCount + c].data();

  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);

  const Variant variants[] = {
      {"scope", ModeOscilloscope, -1},        {"spectrum", ModeSpectrum, -1},
      {"levels", ModeLevels, -1},             {"spectrum Fill", ModeSpectrum, Fill},
      {"spectrum Points", ModeSpectrum, Points}, {"levels Outline", ModeLevels, Outline},
      {"levels Points", ModeLevels, Points},
  };

  bool headerDone = false;
  for (const Variant& variant : variants) {
    // Upper page: our canvas; lower page: the GDI version.
    HWND pages[2] = {CreatePage(resources, kPageTemplates[variant.mode], main, 0, 0), nullptr};
    HWND controls[2] = {};
    if (pages[0]) {
      RECT r{};
      GetWindowRect(pages[0], &r);
      pages[1] = CreatePage(resources, kPageTemplates[variant.mode], main, 0, r.bottom - r.top);
      for (int i = 0; i < 2; ++i) controls[i] = pages[i] ? GetDlgItem(pages[i], IDC_PLOT_FRAME) : nullptr;
    }
    const bool fromTemplate = controls[0] && controls[1];
    if (!fromTemplate) {
      for (HWND& p : pages) {
        if (p) DestroyWindow(p);
        p = nullptr;
      }
      controls[0] = CreateFallbackControl(main, 10, 10);
      controls[1] = CreateFallbackControl(main, 10, 20 + kFallbackHeight + 2);
    }
    PumpMessages();

    PlotCanvas* ours = CreatePlotCanvas(controls[0]);
    GdiCanvas* gdiCanvas = new GdiCanvas(controls[1]);
    if (!ours || !gdiCanvas->Valid()) {
      std::fprintf(stderr, "page_draw_bench: no canvas\n");
      return 1;
    }
    if (!headerDone) {
      std::printf("page_draw_bench: canvas %dx%d (%s), line 720 samples of 75%% bars + noise sigma %.1f, "
                  "default settings, %d frames after %d warm-up, times in microseconds per frame\n",
                  ours->plotWidth, ours->plotHeight,
                  fromTemplate ? "picture control 5078 of the page templates in KVP_LineView.dll"
                               : "fallback static control, DLL not found",
                  kNoiseSigma, frames, warmup);
      std::printf("%-16s %9s %9s %9s %9s %8s %8s | %9s %9s %9s\n", "page", "ours med", "ours p99", "gdi med",
                  "gdi p99", "gdi/ours", "equal px", "analysis", "present", "w/o anal.");
      headerDone = true;
    }

    AnalysisSettings s = defaults;
    s.Mode = variant.mode;
    if (variant.style >= 0) {
      if (variant.mode == ModeSpectrum) s.FFTDiagMode = variant.style;
      if (variant.mode == ModeLevels) s.LevDiagMode = variant.style;
    }
    PageBuffers ourBuffers, gdiBuffers, spareBuffers;
    std::vector<double> ourTimes, gdiTimes, analysisTimes, presentTimes;
    ourTimes.reserve(frames);
    gdiTimes.reserve(frames);
    for (int f = 0; f < warmup + frames; ++f) {
      const LineData& line = lines[f % kLineVariants];
      LARGE_INTEGER t0, t1, t2, t3, t4;
      QueryPerformanceCounter(&t0);
      OurPage(variant.mode, s, line, ourBuffers, *ours);
      // Our Present only invalidates: the copy to the screen is the control's paint, counted here.
      UpdateWindow(controls[0]);
      QueryPerformanceCounter(&t1);
      GdiPage(variant.mode, s, line, gdiBuffers, *gdiCanvas);
      QueryPerformanceCounter(&t2);
      // Parts of our figure, outside both timed frames: the numbers alone and one more Present.
      AnalysisOnly(variant.mode, s, line, spareBuffers);
      QueryPerformanceCounter(&t3);
      ours->Present();
      UpdateWindow(controls[0]);
      QueryPerformanceCounter(&t4);
      if (f >= warmup) {
        ourTimes.push_back(Micros(t0, t1, freq));
        gdiTimes.push_back(Micros(t1, t2, freq));
        analysisTimes.push_back(Micros(t2, t3, freq));
        presentTimes.push_back(Micros(t3, t4, freq));
      }
      PumpMessages();
    }

    // Both controls show the picture of the same last line: ours drawn once more (the Present of
    // the timing above handed over a picture not drawn anew), then taken by the control's paint.
    OurPage(variant.mode, s, lines[(warmup + frames - 1) % kLineVariants], ourBuffers, *ours);
    UpdateWindow(controls[0]);
    const std::vector<uint32_t> gdiPixels = gdiCanvas->ReadPixels();
    const size_t count = gdiPixels.size();
    const uint32_t* shown = ShownBits(controls[0]);
    size_t equal = 0;
    for (size_t i = 0; shown != nullptr && i < count; ++i) equal += ((shown[i] ^ gdiPixels[i]) & 0xFFFFFFu) == 0;

    const Stats a = Summarise(ourTimes);
    const Stats b = Summarise(gdiTimes);
    const double analysis = Summarise(analysisTimes).median;
    std::printf("%-16s %9.1f %9.1f %9.1f %9.1f %7.1fx %7.2f%% | %9.1f %9.1f %8.1fx\n", variant.name, a.median, a.p99,
                b.median, b.p99, b.median / a.median, 100.0 * double(equal) / double(count), analysis,
                Summarise(presentTimes).median, (b.median - analysis) / (a.median - analysis));
    std::fflush(stdout);

    delete gdiCanvas;
    DestroyPlotCanvas(ours);
    for (HWND p : pages)
      if (p) DestroyWindow(p);
    if (!fromTemplate)
      for (HWND c : controls) DestroyWindow(c);
    PumpMessages();
  }

  std::printf("ours: the page's analysis call drawing into the canvas, Present and the control's paint (which takes "
              "the picture into its DIB section) "
              "included; gdi: the same "
              "page with a memory DC and GDI calls per operation and per column, BitBlt included; equal px: share of "
              "identical pixels of the two last pictures; analysis, present: medians of those parts of ours (the analysis is "
              "the same code in both); w/o anal.: the ratio with the analysis median taken off both\n");
  if (resources) FreeLibrary(resources);
  DestroyWindow(main);
  return 0;
}
