// The three tab pages of the tool window, through the real DLL: what the fields, spins and
// combo boxes show, what a spin click or a selection writes to the settings file, and where the
// axis labels land on the painted page.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plot/plot_canvas_win.h"
#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

constexpr int kTab = 5072;
constexpr int kFrame = 5078;
constexpr int kStyleCombo = 5080, kWindowCombo = 5079;
constexpr int kSensitivityEdit = 5091, kSensitivitySpin = 5092;
constexpr int kWhiteEdit = 5052, kWhiteSpin = 5056, kBlackEdit = 5053, kBlackSpin = 5058;
constexpr int kStartEdit = 5055, kStartSpin = 5060, kStopEdit = 5061, kStopSpin = 5062;

struct Range {
  int lower, upper;
  bool operator==(const Range& o) const { return lower == o.lower && upper == o.upper; }
};
std::ostream& operator<<(std::ostream& os, const Range& r) { return os << r.lower << ".." << r.upper; }

Range SpinRange(HWND spin) {
  int lower = -999, upper = -999;
  SendMessageW(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
  return {lower, upper};
}

// The notice an up-down sends its parent after a click: SB_THUMBPOSITION with the new position.
void SpinReports(HWND page, UINT msg, int spinId, int position) {
  SendMessageW(page, msg, MAKEWPARAM(SB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(GetDlgItem(page, spinId)));
  Pump(20);
}

// A selection made from code, announced as the combo box itself announces a user's choice.
void Select(HWND page, int comboId, int index) {
  HWND combo = GetDlgItem(page, comboId);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

std::wstring ComboText(HWND page, int comboId) {
  HWND combo = GetDlgItem(page, comboId);
  const LRESULT sel = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (sel == CB_ERR) return L"<none>";
  wchar_t buf[64] = {};
  SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(buf));
  return buf;
}

std::vector<std::wstring> ComboItems(HWND page, int comboId) {
  HWND combo = GetDlgItem(page, comboId);
  std::vector<std::wstring> items;
  const LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    wchar_t buf[64] = {};
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    items.emplace_back(buf);
  }
  return items;
}

// --- Expected label positions, worked out from the page's own geometry and font -------------

struct Label {
  std::wstring text;
  RECT box;  // the text cell in page client coordinates
};

class LabelLayout {
 public:
  explicit LabelLayout(HWND page) : page_(page) {
    RECT c{};
    GetClientRect(GetDlgItem(page, kFrame), &c);
    MapWindowPoints(GetDlgItem(page, kFrame), page, reinterpret_cast<POINT*>(&c), 2);
    plot = c;
    // 20 and 8 pixels at 96 DPI, growing with the DPI as the texts do.
    HDC dc = GetDC(page);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(page, dc);
    below = MulDiv(8, dpi, 96);
    L = c.left, T = c.top, R = c.right, B = c.bottom, W = R - L, H = B - T, X0 = L - MulDiv(20, dpi, 96);
  }

  void CentredAt(const std::wstring& text, int x, int y) {
    const SIZE e = Extent(text);
    Add(text, x - e.cx / 2, y - e.cy / 2, e);
  }
  void CentredBelow(const std::wstring& text, int x) {
    const SIZE e = Extent(text);
    Add(text, x - e.cx / 2, B + below, e);
  }

  RECT plot{};
  int L, T, R, B, W, H, X0, below;
  std::vector<Label> labels;

 private:
  SIZE Extent(const std::wstring& text) const {
    HDC dc = GetDC(page_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(page_, WM_GETFONT, 0, 0)));
    SIZE e{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &e);
    SelectObject(dc, old);
    ReleaseDC(page_, dc);
    return e;
  }
  void Add(const std::wstring& text, int left, int top, SIZE e) {
    labels.push_back({text, RECT{left, top, left + static_cast<int>(e.cx), top + static_cast<int>(e.cy)}});
  }
  HWND page_;
};

std::wstring Num(int v) { return std::to_wstring(v); }

LabelLayout ScopeLabels(HWND page) {
  LabelLayout l(page);
  l.CentredAt(L"255", l.X0, l.T);
  for (int v = 240; v >= 0; v -= 16) l.CentredAt(Num(v), l.X0, l.T + MulDiv(256 - v, l.H, 255));
  for (int n = 0; n <= 90; n += 10) l.CentredBelow(Num(n), l.L + MulDiv(n, l.W, 100));
  l.CentredBelow(L"100%", l.R);
  return l;
}

LabelLayout SpectrumLabels(HWND page, int s) {
  LabelLayout l(page);
  const int d = s <= 20 ? 2 : s <= 50 ? 5 : 10;
  l.CentredAt(L"0dB", l.X0, l.T);
  for (int n = d; n <= s; n += d) l.CentredAt(Num(-n), l.X0, l.T + MulDiv(n, l.H, s));
  const wchar_t* mhz[] = {L"0.0", L"0.5", L"1.0", L"1.5", L"2.0", L"2.5", L"3.0",
                          L"3.5", L"4.0", L"4.5", L"5.0", L"5.5", L"6.0", L"6.5"};
  for (int i = 0; i < 14; ++i) l.CentredBelow(mhz[i], l.L + MulDiv(50 * i, l.W, 675));
  l.CentredBelow(L"MHz", l.R);
  return l;
}

LabelLayout LevelsLabels(HWND page) {
  LabelLayout l(page);
  l.CentredAt(L"100%", l.X0, l.T);
  // Decades 0.1, 1.0, 10.0 at 0, 1 and 2 thirds of the height above the bottom edge.
  l.CentredAt(L"0.1", l.X0, l.B);
  l.CentredAt(L"1.0", l.X0, l.B - l.H / 3);
  l.CentredAt(L"10.0", l.X0, l.B - 2 * l.H / 3);
  for (int n = 0; n <= 240; n += 16) l.CentredBelow(Num(n), l.L + MulDiv(n, l.W, 256));
  l.CentredBelow(L"255", l.R);
  return l;
}

// --- Reading the painted page back ----------------------------------------------------------

struct Shot {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return (x < 0 || y < 0 || x >= w || y >= h) ? 0xFF000000u : px[y * w + x] & 0xFFFFFF; }
};

// A w x h picture (32 bits, rows top-down) drawn by `draw` into a memory DC made like the page's.
Shot Drawn(HWND page, int w, int h, const std::function<void(HDC mem, HDC pageDc)>& draw) {
  Shot s;
  s.w = w;
  s.h = h;
  const BITMAPINFO info = CanvasBitmapInfo(w, h);
  HDC pageDc = GetDC(page);
  HDC mem = CreateCompatibleDC(pageDc);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  draw(mem, pageDc);
  GdiFlush();
  s.px.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + w * h);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(page, pageDc);
  return s;
}

// The page as it stands on the screen.
Shot Capture(HWND page) {
  RECT c{};
  GetClientRect(page, &c);
  return Drawn(page, c.right, c.bottom,
               [&](HDC mem, HDC pageDc) { BitBlt(mem, 0, 0, c.right, c.bottom, pageDc, 0, 0, SRCCOPY); });
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Label ink: the text colour and its anti-aliased blends with the grey page (red equals blue,
// green clearly lower). No other part of the page has that hue.
bool IsInk(uint32_t p) {
  const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return p <= 0xFFFFFF && r == b && g + 4 < r;
}

RECT InkBox(const Shot& shot, const RECT& area) {
  RECT box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (IsInk(shot.At(x, y))) {
        box.left = std::min<LONG>(box.left, x), box.top = std::min<LONG>(box.top, y);
        box.right = std::max<LONG>(box.right, x + 1), box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  return box;
}

// The labels as they should look: each text drawn by this test at its expected corner with the
// page's font and the label colour on the page's background.
Shot Render(HWND page, const Shot& like, const std::vector<Label>& labels, uint32_t background) {
  const COLORREF bg = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
  return Drawn(page, like.w, like.h, [&](HDC mem, HDC) {
    HBRUSH brush = CreateSolidBrush(bg);
    RECT all{0, 0, like.w, like.h};
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    HGDIOBJ oldFont = SelectObject(mem, reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0)));
    SetTextColor(mem, RGB(0x60, 0x00, 0x60));
    SetBkColor(mem, bg);
    for (const Label& l : labels) TextOutW(mem, l.box.left, l.box.top, l.text.c_str(), static_cast<int>(l.text.size()));
    SelectObject(mem, oldFont);
  });
}

// Every expected label is painted: the ink in and just around its expected cell has the bounding
// box of the same text drawn at the expected corner (within a pixel); no label ink lies outside
// all cells.
void ExpectLabels(HWND page, const Shot& shot, const std::vector<Label>& labels) {
  ASSERT_GT(shot.w, 0);
  const Shot want = Render(page, shot, labels, shot.At(2, 2));  // a corner no control covers
  for (const Label& l : labels) {
    const RECT around{l.box.left - 2, l.box.top - 2, l.box.right + 2, l.box.bottom + 2};
    const RECT got = InkBox(shot, around), expected = InkBox(want, around);
    const std::string what = "label " + Narrow(l.text) + " expected at " + std::to_string(l.box.left) + "," +
                             std::to_string(l.box.top);
    ASSERT_LT(expected.left, expected.right) << what;
    ASSERT_LT(got.left, got.right) << "no ink for " << what;
    EXPECT_NEAR(got.left, expected.left, 1) << what;
    EXPECT_NEAR(got.top, expected.top, 1) << what;
    EXPECT_NEAR(got.right, expected.right, 1) << what;
    EXPECT_NEAR(got.bottom, expected.bottom, 1) << what;
    int differing = 0;
    for (int y = l.box.top; y < l.box.bottom; ++y)
      for (int x = l.box.left; x < l.box.right; ++x) differing += shot.At(x, y) != want.At(x, y);
    EXPECT_EQ(differing, 0) << "pixels unlike the expected text in the cell of " << what;
  }
  int stray = 0;
  std::string first;
  for (int y = 0; y < shot.h; ++y)
    for (int x = 0; x < shot.w; ++x) {
      if (!IsInk(shot.At(x, y))) continue;
      bool covered = false;
      for (const Label& l : labels)
        covered = covered || (x >= l.box.left - 1 && x < l.box.right + 1 && y >= l.box.top - 1 && y < l.box.bottom + 1);
      if (!covered && stray++ == 0) first = std::to_string(x) + "," + std::to_string(y);
    }
  EXPECT_EQ(stray, 0) << "label ink outside every label, first at " << first;
}

// --- The DLL with a host window and the tool window open ------------------------------------

class Pages : public ::testing::Test {
 protected:
  // The plug-in looks for its host's main window when it is loaded, so it exists first.
  static void SetUpTestSuite() {
    host_ = CreateHostWindow(40, 30, 900, 700);
    Pump(100);
  }
  static void TearDownTestSuite() {
    DestroyWindow(host_);
    Pump(20);
  }
  void SetUp() override { ASSERT_NE(host_, nullptr); }

  // A fresh copy of the DLL with `settingsLines` as its settings file ("" for no file), the
  // tool window open and painted.
  void Open(const std::string& settingsLines) {
    plugin_.reset();
    plugin_ = std::make_unique<PluginHost>(L"pages");
    if (!settingsLines.empty()) WriteFile(plugin_->Ini(), "[PluginSettings]\r\n" + settingsLines);
    ASSERT_TRUE(plugin_->Load());
    plugin_->d->LoadSettings();
    plugin_->Configure(720, 576);
    tool_ = plugin_->Open(host_);
    ASSERT_NE(tool_, nullptr);
    scope_ = Page(tool_, 0), spectrum_ = Page(tool_, 1), levels_ = Page(tool_, 2);
    ASSERT_TRUE(scope_ && spectrum_ && levels_);
    Pump(100);
  }

  // Shutdown as the host does it; returns the settings file it wrote.
  std::string Close() {
    plugin_->Shutdown();
    Pump(20);
    const std::string ini = ReadFile(plugin_->Ini());
    plugin_.reset();
    return ini;
  }

  HWND Item(HWND page, int id) const { return GetDlgItem(page, id); }
  std::wstring Field(HWND page, int id) const { return Text(GetDlgItem(page, id)); }

  // The scope page's fields white, black, start and stop show `texts`; their spins have `ranges`.
  void ExpectScope(const std::vector<std::wstring>& texts, const std::vector<Range>& ranges) {
    const int fields[] = {kWhiteEdit, kBlackEdit, kStartEdit, kStopEdit};
    const int spins[] = {kWhiteSpin, kBlackSpin, kStartSpin, kStopSpin};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(Field(scope_, fields[i]), texts[i]) << fields[i];
      EXPECT_EQ(SpinRange(Item(scope_, spins[i])), ranges[i]) << spins[i];
    }
  }

  // Every spin of the scope page shows a position inside its range.
  void ExpectScopeSpinsInRange() {
    for (int id : {kWhiteSpin, kBlackSpin, kStartSpin, kStopSpin}) {
      const Range r = SpinRange(Item(scope_, id));
      const int pos = SpinPos(Item(scope_, id));
      EXPECT_LE(r.lower, r.upper) << "spin " << id;
      EXPECT_TRUE(pos >= r.lower && pos <= r.upper) << "spin " << id << " at " << pos << " outside " << r;
    }
  }

  static HWND host_;
  std::unique_ptr<PluginHost> plugin_;
  HWND tool_ = nullptr, scope_ = nullptr, spectrum_ = nullptr, levels_ = nullptr;
};

HWND Pages::host_ = nullptr;

TEST_F(Pages, ScopeSpinsKeepBlackUnderWhiteAndStartBeforeStop) {
  ASSERT_NO_FATAL_FAILURE(Open(""));
  EXPECT_TRUE(IsWindowVisible(scope_));
  ExpectScope({L"235", L"16", L"5.0", L"95.0"}, {{16, 255}, {0, 235}, {0, 950}, {50, 1000}});
  EXPECT_EQ(SpinPos(Item(scope_, kWhiteSpin)), 235);
  EXPECT_EQ(SpinPos(Item(scope_, kStopSpin)), 950);

  // Marks over the "255" label and inside the plot: a spin click repaints neither, so they stay.
  const LabelLayout layout = ScopeLabels(scope_);
  const RECT labelMark = layout.labels[0].box;
  const RECT plotMark{10, 10, 30, 30};  // in the frame's client area
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  HDC dc = GetDC(scope_);
  FillRect(dc, &labelMark, green);
  ReleaseDC(scope_, dc);
  dc = GetDC(Item(scope_, kFrame));
  FillRect(dc, &plotMark, green);
  ReleaseDC(Item(scope_, kFrame), dc);
  DeleteObject(green);

  // Each step: a real click on an arrow (value 1 up or right, 0 down or left) and the spin's
  // position after it, or the notice the spin sends for a position; then the field's text and
  // the partner spin's new range.
  struct Step {
    bool click;
    int spin, value, position;
    int field;
    const wchar_t* text;
    int partner;
    Range partnerRange;
  };
  const Step walk[] = {
      {true, kBlackSpin, 1, 17, kBlackEdit, L"17", kWhiteSpin, {17, 255}},  // white may now go down to 17
      {false, kBlackSpin, 235, 0, kBlackEdit, L"235", kWhiteSpin, {235, 255}},  // black up to white
      {true, kWhiteSpin, 0, 235, kWhiteEdit, L"235", kBlackSpin, {0, 235}},     // white reaches black, cannot pass
      {false, kStopSpin, 1000, 0, kStopEdit, L"100.0", kStartSpin, {0, 1000}},
      {false, kStartSpin, 0, 0, kStartEdit, L"0.0", kStopSpin, {0, 1000}},
      {true, kStartSpin, 1, 51, kStartEdit, L"5.1", kStopSpin, {51, 1000}},  // the spin itself still stood at 50
      {false, kStopSpin, 51, 0, kStopEdit, L"5.1", kStartSpin, {0, 51}},     // stop down to start
      {true, kStartSpin, 1, 51, kStartEdit, L"5.1", kStopSpin, {51, 1000}},  // start reaches stop, cannot pass
  };
  for (const Step& step : walk) {
    const bool horizontal = step.spin == kStartSpin || step.spin == kStopSpin;
    if (step.click) {
      ClickSpinArrow(Item(scope_, step.spin), step.value != 0);
      Pump(20);
      EXPECT_EQ(SpinPos(Item(scope_, step.spin)), step.position) << step.spin;
    } else {
      SpinReports(scope_, horizontal ? WM_HSCROLL : WM_VSCROLL, step.spin, step.value);
    }
    EXPECT_EQ(Field(scope_, step.field), step.text) << step.spin;
    EXPECT_EQ(SpinRange(Item(scope_, step.partner)), step.partnerRange) << step.spin;
  }

  const Shot marked = Capture(scope_);
  int unmarked = 0;
  for (int y = labelMark.top; y < labelMark.bottom; ++y)
    for (int x = labelMark.left; x < labelMark.right; ++x) unmarked += marked.At(x, y) != 0x00FF00;
  for (int y = plotMark.top; y < plotMark.bottom; ++y)
    for (int x = plotMark.left; x < plotMark.right; ++x)
      unmarked += marked.At(layout.plot.left + x, layout.plot.top + y) != 0x00FF00;
  EXPECT_EQ(unmarked, 0) << "the page or the plot was repainted by a spin click";

  // Other scroll codes change nothing.
  SendMessageW(scope_, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 100), reinterpret_cast<LPARAM>(Item(scope_, kBlackSpin)));
  EXPECT_EQ(Field(scope_, kBlackEdit), L"235");
  ExpectScopeSpinsInRange();

  ExpectIniValues(Close(), {{"WhiteLevel", "235"}, {"BlackLevel", "235"}, {"StartCount", "51"}, {"StopCount", "51"}});
}

TEST_F(Pages, SensitivityStepsThroughEveryBand) {
  ASSERT_NO_FATAL_FAILURE(Open("FFTSensitivity=50\r\n"));
  HWND spin = Item(spectrum_, kSensitivitySpin);
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"50");
  EXPECT_EQ(SpinRange(spin), (Range{0, 1}));
  // Worked by hand: up adds 10 from 50, 5 from 20, 2 below; down takes 2 up to 20, 5 up to 50,
  // 10 above; the result stays within 10..110.
  struct Step {
    bool up;
    int expect;
  };
  const Step walk[] = {
      {true, 60},  {false, 50}, {false, 45}, {false, 40}, {false, 35}, {false, 30},  {false, 25},
      {false, 20}, {true, 25},  {false, 20}, {false, 18}, {false, 16}, {false, 14},  {false, 12},
      {false, 10}, {false, 10}, {true, 12},  {true, 14},  {true, 16},  {true, 18},   {true, 20},
      {true, 25},  {true, 30},  {true, 35},  {true, 40},  {true, 45},  {true, 50},   {true, 60},
      {true, 70},  {true, 80},  {true, 90},  {true, 100}, {true, 110}, {true, 110},  {false, 100},
  };
  int i = 0;
  for (const Step& step : walk) {
    // Alternately a real click on the arrow and the notice the spin sends for it.
    if (i++ % 2 == 0) {
      ClickSpinArrow(spin, step.up);
    } else {
      SpinReports(spectrum_, WM_VSCROLL, kSensitivitySpin, step.up ? 1 : 0);
    }
    EXPECT_EQ(Field(spectrum_, kSensitivityEdit), Num(step.expect)) << "step " << i << (step.up ? " up" : " down");
    const int pos = SpinPos(spin);
    EXPECT_TRUE(pos == 0 || pos == 1) << pos;
  }
  // The arrow keys in the read-only field work the spin like its arrows.
  HWND field = Item(spectrum_, kSensitivityEdit);
  SendMessageW(field, WM_KEYDOWN, VK_UP, 0);
  SendMessageW(field, WM_KEYUP, VK_UP, 0);
  Pump(20);
  EXPECT_EQ(Text(field), L"110");
  SendMessageW(field, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(field, WM_KEYUP, VK_DOWN, 0);
  SendMessageW(field, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(field, WM_KEYUP, VK_DOWN, 0);
  Pump(20);
  EXPECT_EQ(Text(field), L"90");
  EXPECT_EQ(IniValue(Close(), "FFTSensitivity"), "90");
}

TEST_F(Pages, HandEditedValuesAreShownAsUsedAndKeptUntilChanged) {
  // Black above white, start after stop, sensitivity above 110, style indices naming no item.
  // The analysis keeps black and start and raises white and stop to them.
  ASSERT_NO_FATAL_FAILURE(Open("WhiteLevel=100\r\nBlackLevel=250\r\nStartCount=900\r\nStopCount=100\r\n"
                               "FFTSensitivity=200\r\nFFTDiagMode=7\r\nWindowFunction=-1\r\nLevDiagMode=2\r\n"
                               "Mode=1\r\n"));
  ExpectScope({L"250", L"250", L"90.0", L"90.0"}, {{250, 255}, {0, 250}, {0, 900}, {900, 1000}});
  ExpectScopeSpinsInRange();
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"110");
  ExpectLabels(spectrum_, Capture(spectrum_), SpectrumLabels(spectrum_, 110).labels);  // -10 .. -110
  int pos = SpinPos(Item(spectrum_, kSensitivitySpin));
  EXPECT_TRUE(pos == 0 || pos == 1) << pos;
  EXPECT_EQ(SendMessageW(Item(spectrum_, kStyleCombo), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessageW(Item(spectrum_, kWindowCombo), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(ComboText(levels_, kStyleCombo), L"Точка");
  ExpectIniValues(Close(), {{"WhiteLevel", "100"},
                            {"BlackLevel", "250"},
                            {"StartCount", "900"},
                            {"StopCount", "100"},
                            {"FFTSensitivity", "200"},
                            {"FFTDiagMode", "7"},
                            {"WindowFunction", "-1"},
                            {"LevDiagMode", "2"}});

  // Outside the ranges entirely; a control the user touches stores its new value, the others
  // keep theirs.
  ASSERT_NO_FATAL_FAILURE(Open("WhiteLevel=300\r\nBlackLevel=-20\r\nStartCount=-5\r\nStopCount=4000\r\n"
                               "FFTSensitivity=5\r\nLevDiagMode=7\r\nWindowFunction=4\r\nMode=1\r\n"));
  EXPECT_EQ(Field(scope_, kWhiteEdit), L"255");
  EXPECT_EQ(Field(scope_, kBlackEdit), L"0");
  EXPECT_EQ(Field(scope_, kStartEdit), L"0.0");
  EXPECT_EQ(Field(scope_, kStopEdit), L"100.0");
  ExpectScopeSpinsInRange();
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"10");
  ExpectLabels(spectrum_, Capture(spectrum_), SpectrumLabels(spectrum_, 10).labels);  // -2 .. -10
  pos = SpinPos(Item(spectrum_, kSensitivitySpin));
  EXPECT_TRUE(pos == 0 || pos == 1) << pos;
  EXPECT_EQ(SendMessageW(Item(levels_, kStyleCombo), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessageW(Item(spectrum_, kWindowCombo), CB_GETCURSEL, 0, 0), CB_ERR);
  ClickSpinArrow(Item(scope_, kWhiteSpin), false);
  EXPECT_EQ(Field(scope_, kWhiteEdit), L"254");
  ClickSpinArrow(Item(spectrum_, kSensitivitySpin), true);  // steps from the 10 shown
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"12");
  ExpectLabels(spectrum_, Capture(spectrum_), SpectrumLabels(spectrum_, 12).labels);  // -2 .. -12
  Select(levels_, kStyleCombo, 2);
  ExpectIniValues(Close(), {{"WhiteLevel", "254"},
                            {"BlackLevel", "-20"},
                            {"StartCount", "-5"},
                            {"StopCount", "4000"},
                            {"FFTSensitivity", "12"},
                            {"LevDiagMode", "2"},
                            {"WindowFunction", "4"}});
}

TEST_F(Pages, CombosShowTheStoredChoiceAndWriteANewOne) {
  const std::vector<std::wstring> styles = {L"Контур", L"Заполнение", L"Точка"};
  ASSERT_NO_FATAL_FAILURE(Open(""));  // defaults: style 0, Hanning, levels style 1
  EXPECT_EQ(ComboItems(spectrum_, kStyleCombo), styles);
  EXPECT_EQ(ComboItems(levels_, kStyleCombo), styles);
  EXPECT_EQ(ComboItems(spectrum_, kWindowCombo), (std::vector<std::wstring>{L"None", L"Hamming", L"Hanning", L"Blackmen"}));
  EXPECT_EQ(ComboText(spectrum_, kStyleCombo), L"Контур");
  EXPECT_EQ(ComboText(spectrum_, kWindowCombo), L"Hanning");
  EXPECT_EQ(ComboText(levels_, kStyleCombo), L"Заполнение");

  Select(spectrum_, kWindowCombo, 3);
  Select(levels_, kStyleCombo, 0);
  // A real choice on the closed drop-down list: the down arrow key moves to the next item.
  HWND style = Item(spectrum_, kStyleCombo);
  SendMessageW(style, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(style, WM_KEYUP, VK_DOWN, 0);
  Pump(20);
  EXPECT_EQ(ComboText(spectrum_, kStyleCombo), L"Заполнение");
  ExpectIniValues(Close(), {{"WindowFunction", "3"}, {"FFTDiagMode", "1"}, {"LevDiagMode", "0"}});
}

TEST_F(Pages, ScopeLabelsStandAroundThePlot) {
  ASSERT_NO_FATAL_FAILURE(Open("Mode=0\r\n"));
  ASSERT_TRUE(IsWindowVisible(scope_));
  const LabelLayout l = ScopeLabels(scope_);
  ASSERT_EQ(l.labels.size(), 17u + 11u);
  ExpectLabels(scope_, Capture(scope_), l.labels);
}

TEST_F(Pages, LevelsLabelsFollowTheLogScale) {
  ASSERT_NO_FATAL_FAILURE(Open("Mode=2\r\n"));
  ASSERT_TRUE(IsWindowVisible(levels_));
  EXPECT_FALSE(IsWindowVisible(scope_));
  const LabelLayout l = LevelsLabels(levels_);
  ASSERT_EQ(l.labels.size(), 4u + 17u);
  ExpectLabels(levels_, Capture(levels_), l.labels);
}

// The page erased before its paint (as when a window of this thread uncovers it): the labels
// still stand on the page's grey, not in white boxes.
TEST_F(Pages, LabelsKeepThePageColourWhenErasedBeforeThePaint) {
  ASSERT_NO_FATAL_FAILURE(Open("Mode=2\r\n"));
  RedrawWindow(levels_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
  UpdateWindow(levels_);
  ExpectLabels(levels_, Capture(levels_), LevelsLabels(levels_).labels);
}

TEST_F(Pages, SpectrumLabelsFollowTheSensitivity) {
  ASSERT_NO_FATAL_FAILURE(Open("Mode=1\r\n"));  // sensitivity 40 by default
  ASSERT_TRUE(IsWindowVisible(spectrum_));
  LabelLayout l = SpectrumLabels(spectrum_, 40);
  ASSERT_EQ(l.labels.size(), 9u + 15u);
  EXPECT_EQ(l.labels[8].text, L"-40");
  EXPECT_EQ((l.labels[8].box.top + l.labels[8].box.bottom) / 2, l.B);
  Shot before = Capture(spectrum_);
  ExpectLabels(spectrum_, before, l.labels);

  // One click on the upper arrow: 45, labels -5 .. -45 with -45 at the bottom edge, painted
  // before the click returns; the old ones are gone and the plot keeps its picture.
  ClickSpinArrow(Item(spectrum_, kSensitivitySpin), true);
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"45");
  l = SpectrumLabels(spectrum_, 45);
  ASSERT_EQ(l.labels.size(), 10u + 15u);
  EXPECT_EQ(l.labels[9].text, L"-45");
  const Shot after = Capture(spectrum_);
  ExpectLabels(spectrum_, after, l.labels);
  int changed = 0;
  for (int y = l.plot.top; y < l.plot.bottom; ++y)
    for (int x = l.plot.left; x < l.plot.right; ++x) changed += before.At(x, y) != after.At(x, y);
  EXPECT_EQ(changed, 0) << "plot pixels changed by a sensitivity click";

  // Down to 20 (step 2 below): -2 .. -20.
  for (int i = 0; i < 5; ++i) SpinReports(spectrum_, WM_VSCROLL, kSensitivitySpin, 0);
  EXPECT_EQ(Field(spectrum_, kSensitivityEdit), L"20");
  l = SpectrumLabels(spectrum_, 20);
  ASSERT_EQ(l.labels.size(), 11u + 15u);
  ExpectLabels(spectrum_, Capture(spectrum_), l.labels);
}

}  // namespace
