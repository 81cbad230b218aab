// The --live window: its arithmetic without a display, a run under SDL's offscreen driver, and
// keys and clicks sent with xdotool to the window on an X server of the test's own (Xvfb).
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "analysis/waveform.h"
#include "cli/common/exit_codes.h"
#include "cli/run/headless_window.h"
#include "cli/live/live_view.h"
#include "cli/output/page_picture.h"
#include "cli_test_util.h"

namespace {

// SDL's system libraries (D-Bus, the GL drivers it unloads at the end) keep memory to the
// end of the process: the sanitizer builds look for leaks of ours elsewhere. SDL's own software
// renderer rather than Mesa's software GL, whose worker threads synchronise in ways that
// ThreadSanitizer cannot see and reports as races of its own.
const std::string kLiveEnv = "ASAN_OPTIONS=detect_leaks=0 SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 ";

TEST(LiveView, KeysAndClicksKeepTheLineInsideTheFrame) {
  const struct {
    int line;
    LiveCommand command;
    int expected;
  } cases[] = {{100, LiveCommand::LineDown, 101}, {0, LiveCommand::LineUp, 0},     {5, LiveCommand::TenUp, 0},
               {570, LiveCommand::TenDown, 575}, {575, LiveCommand::LineDown, 575}};
  for (const auto& c : cases) {
    LiveControls controls;
    controls.line = c.line;
    const std::string notice = ApplyCommand(controls, c.command, 576);
    EXPECT_EQ(controls.line, c.expected) << c.line;
    EXPECT_EQ(notice.empty(), c.line == c.expected) << c.line;
  }
  // A 1920x1080 frame in the default window: scaled by 3/8 to fit, a row covers 2.67 lines.
  int w = 0, h = 0;
  DefaultWindowSize(1920, 1080, &w, &h);
  const LiveLayout l = LayoutWindow(w, h, 1920, 1080);
  EXPECT_EQ(l.picture.w, 720);
  EXPECT_EQ(LineAt(l, 1080, l.picture.x + 10, l.picture.y + l.picture.h - 1), 1077);
  EXPECT_EQ(LineAt(l, 1080, l.picture.x + 10, l.picture.y + 100), 266);
  EXPECT_EQ(LineAt(l, 1080, l.panel.x + 10, l.picture.y + 100), -1);
}

// The live window changes nothing the analysis writes: the same CSV as without it, also where
// a conversion interpolates chroma between rows (10-bit 4:2:0) and the line is near a band's edge.
TEST(Live, OffscreenRunWritesTheSameCsv) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 -frames:v 30 " + Quote(dir / "t.mkv")));
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 30 -c:v ffv1 -pix_fmt yuv420p10le " +
                     Quote(dir / "t10.mkv")));
  // Layouts the window shows as decoded, while only the band around the line is converted.
  for (const char* layout : {"yuv420p", "nv12", "yuyv422"}) {
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=720x576:rate=25 -frames:v 30 -c:v rawvideo -pix_fmt " +
                       std::string(layout) + " " + Quote(dir / (std::string(layout) + ".nut"))));
  }
  const struct {
    const char* file;
    const char* line;
  } cases[] = {{"t.mkv", ""},           {"t10.mkv", "--line 8"},   {"t10.mkv", "--line 15"},
               {"yuv420p.nut", "--line 9"}, {"nv12.nut", "--line 300"}, {"yuyv422.nut", "--line 575"}};
  for (const auto& c : cases) {
    const std::string args = std::string(c.line) + " " + Quote(dir / c.file);
    const RunResult plain = Lineview(args);
    const RunResult live = RunShell(kLiveEnv + "SDL_VIDEODRIVER=offscreen " + Quote(LineviewExe()) +
                                    " --live --no-pacing " + args);
    ASSERT_EQ(live.status, kExitOk) << live.err;
    EXPECT_EQ(live.out, plain.out) << c.file << " " << c.line;
    EXPECT_NE(live.err.find("30 frames analysed"), std::string::npos) << live.err;
  }
}

TEST(Archive, SeveralInputsGiveOneJsonLineEach) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 5 " + Quote(dir / "a.mkv")));
  ASSERT_TRUE(Ffmpeg("-f lavfi -i smptebars=size=320x240:rate=25 -frames:v 7 " + Quote(dir / "b,c.mkv")));
  const RunResult json = Lineview(Quote(dir / "a.mkv") + " " + Quote(dir / "b,c.mkv") + " --json");
  ASSERT_EQ(json.status, kExitOk) << json.err;
  const std::regex line(R"(\{"input": "[^"]*/(a|b,c)\.mkv",.*"frames_analysed": (5|7),"frames_dropped": 0,.*"verdict": "pass","complete": true,"segments": \[\]\})");
  std::istringstream in(json.out);
  std::string text;
  std::vector<std::string> names;
  while (std::getline(in, text)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    names.push_back(m[1]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b,c"}));
  // Without --json one CSV: each row names its input.
  const RunResult csv = Lineview(Quote(dir / "a.mkv") + " " + Quote(dir / "b,c.mkv"));
  std::string header;
  const auto rows = CsvRows(csv.out, &header);
  EXPECT_EQ(header, "input,frame,time,R,G,B,R_frame,G_frame,B_frame");
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[11][0], "\"" + (dir / "b"));  // the quoted name, split here at its comma
}

// While the rings fill, the window's read-outs are the means of the frames measured so far.
TEST(LiveView, ReadoutsAreTheMeanOfTheFramesSeenSoFar) {
  const struct {
    int64_t measured;
    int frames;
    const char* label;
  } cases[] = {{1, 1, "mean of 1 frame"}, {30, 30, "mean of 30 frames"}, {80, 50, ""}};
  for (const auto& c : cases) {
    double rings[ChannelCount][kSnrRingLength] = {};
    const double* history[ChannelCount];
    for (int ch = 0; ch < ChannelCount; ++ch) {
      history[ch] = rings[ch];
      std::fill(rings[ch], rings[ch] + std::min<int64_t>(c.measured, kSnrRingLength), ch == ChannelV ? 7.4 : 3.0);
    }
    double snr[3];
    EXPECT_EQ(LiveReadouts(history, 1, c.measured, snr), c.frames);
    EXPECT_NEAR(snr[2], 7.4, 1e-9) << c.measured;
    const std::string status = LiveStatus(0, 1, c.frames, false, false);
    EXPECT_EQ(status.find("mean of") != std::string::npos, *c.label != 0) << status;
    EXPECT_NE(status.find(c.label), std::string::npos) << status;
  }
}

// No display and no driver asked for: a failure that names the display, not a run nobody sees.
TEST(Live, WithoutADisplayFailsAndSaysWhy) {
  const struct {
    std::string display;  // the environment's DISPLAY
    std::string said;
  } cases[] = {{"DISPLAY=:1999", "(DISPLAY=:1999)"}, {"", "(DISPLAY is not set)"}};
  for (const auto& c : cases) {
    const RunResult r = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " + c.display + " " + kLiveEnv +
                                 Quote(LineviewExe()) + " --live --frames 3");
    EXPECT_EQ(r.status, kExitFailure) << c.display;
    EXPECT_NE(r.err.find("--live: cannot open a window: x11 not available " + c.said), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

// An X server for the test, on a display number it picks itself; keys go through xdotool.
class LiveX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0) {
      GTEST_SKIP() << "Xvfb or xdotool is not installed";
    }
    StartServer();
  }
  // A new server: a key that ended a window stays down in the old one (xdotool's release goes
  // to a window that is gone), and SDL then takes a new press of it for the same press.
  void StartServer() {
    if (xvfb_ > 0) kill(xvfb_, SIGTERM), waitpid(xvfb_, nullptr, 0);
    xvfb_ = -1;
    display_.clear();
    // Display numbers from a random start: a number may be held outside this machine's view (an
    // abstract socket of another machine's X server), where clients then fail to connect.
    const int start = 100 + static_cast<int>(std::random_device{}() % 800);
    for (int n = start; n < start + 50 && display_.empty(); ++n) {
      if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
      display_ = StartXvfb(":" + std::to_string(n));
    }
    ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
  }
  // The display when our server runs on it, empty when it could not start there (a server
  // this machine cannot see may hold the number).
  std::string StartXvfb(const std::string& display) {
    xvfb_ = fork();
    if (xvfb_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      // -noreset: by default the server resets as its last client leaves (an xdotool poll), and
      // refuses connections meanwhile; lineview's start could fall into that gap.
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset", nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (waitpid(xvfb_, nullptr, WNOHANG) == xvfb_) break;  // it gave up
      if (RunShell("DISPLAY=" + display + " xdotool getdisplaygeometry").status == 0 &&
          waitpid(xvfb_, nullptr, WNOHANG) == 0) {
        return display;
      }
    }
    kill(xvfb_, SIGKILL);
    waitpid(xvfb_, nullptr, 0);
    xvfb_ = -1;
    return {};
  }
  void TearDown() override {
    if (lineview_ > 0) kill(lineview_, SIGKILL), waitpid(lineview_, nullptr, 0);
    if (xvfb_ > 0) kill(xvfb_, SIGTERM), waitpid(xvfb_, nullptr, 0);
  }

  // Starts lineview --live on this display; waits for its window.
  void Start(const std::string& args) {
    lineview_ = fork();
    if (lineview_ == 0) {
      setenv("DISPLAY", display_.c_str(), 1);
      const std::string line = kLiveEnv + "exec " + Quote(LineviewExe()) + " --live " + args + " >" + Quote(dir_ / "out") + " 2>" +
                               Quote(dir_ / "err") + " </dev/null";
      execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
      _exit(127);
    }
    window_.clear();
    const auto start = std::chrono::steady_clock::now();
    int exited = -1;
    // Not --sync: xdotool gives up on a BadWindow when a window goes while it walks the tree.
    for (int i = 0; i < 200 && window_.empty(); ++i) {
      window_ = X("search --name '^lineview' 2>/dev/null");
      if (!window_.empty()) break;
      int raw = 0;
      if (waitpid(lineview_, &raw, WNOHANG) == lineview_) {  // it gave up: SDL's reason is in err
        lineview_ = -1;
        exited = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_FALSE(window_.empty()) << "no window on " << display_ << " after " << ms.count() << " ms"
                                  << (exited >= 0 ? ", lineview exited with " + std::to_string(exited) : "")
                                  << "; its stderr:\n" << ReadText(dir_ / "err");
    window_ = window_.substr(0, window_.find('\n'));
  }
  std::string X(const std::string& args) {
    return RunShell("DISPLAY=" + display_ + " timeout 20 xdotool " + args).out;
  }
  std::string Title() {
    std::string t = X("getwindowname " + window_);
    return t.substr(0, t.find('\n'));
  }
  // The title once it holds `part` (the window manager takes it a moment after stderr says so);
  // as it stands after 10 s otherwise.
  std::string WaitForTitle(const std::string& part) {
    std::string t = Title();
    for (int i = 0; i < 100 && t.find(part) == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      t = Title();
    }
    return t;
  }
  // Waits up to 20 s for stderr to match.
  std::string WaitForErr(const std::string& pattern) {
    const std::regex re(pattern);
    std::smatch m;
    for (int i = 0; i < 200; ++i) {
      const std::string err = ReadText(dir_ / "err");
      if (std::regex_search(err, m, re)) return m[m.size() > 1 ? 1 : 0];
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
  // Its exit status; -1 when it has not ended within 20 s (it is then killed).
  int Wait() {
    int raw = 0;
    pid_t done = 0;
    for (int i = 0; i < 200 && (done = waitpid(lineview_, &raw, WNOHANG)) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) kill(lineview_, SIGKILL), waitpid(lineview_, nullptr, 0);
    lineview_ = -1;
    return done == 0 || !WIFEXITED(raw) ? -1 : WEXITSTATUS(raw);
  }

  TempDir dir_;
  pid_t xvfb_ = -1, lineview_ = -1;
  std::string display_, window_;
};

TEST_F(LiveX, KeysAndAClickMoveTheLineAndQExitsWithTheWholeCsv) {
  Start("--hold");
  EXPECT_EQ(Title(), "lineview \u2014 colour bars \u2014 line 100 \u2014 scope");
  X("key --window " + window_ + " Down Down");
  EXPECT_FALSE(WaitForErr("line 102\n").empty()) << ReadText(dir_ / "err");
  EXPECT_NE(WaitForTitle("\u2014 line 102 \u2014").find("\u2014 line 102 \u2014"), std::string::npos) << Title();
  // The picture stands at its size at the window's left edge: the pointer's row is the line.
  X("mousemove --window " + window_ + " 300 417 click 1");
  EXPECT_FALSE(WaitForErr("line 417\n").empty());
  EXPECT_NE(WaitForTitle("\u2014 line 417 \u2014").find("\u2014 line 417 \u2014"), std::string::npos) << Title();
  X("key --window " + window_ + " q");
  EXPECT_EQ(Wait(), kExitOk);
  // Every frame analysed before the quit has its row.
  const std::string analysed = WaitForErr("(\\d+) frames analysed");
  const auto rows = CsvRows(ReadText(dir_ / "out"));
  ASSERT_FALSE(analysed.empty());
  ASSERT_EQ(rows.size(), std::stoul(analysed));
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 8u);
    EXPECT_EQ(rows[i][0], std::to_string(i));
  }
}

// q while the input delivers nothing (a FIFO whose writer sleeps) ends the run at once, with a
// row for every frame analysed.
TEST_F(LiveX, QEndsARunWhoseInputHasStalled) {
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    const int fd = open(fifo.c_str(), O_WRONLY);
    const std::string frames(size_t(64) * 48 * 2 * 5, '\x60');
    if (fd < 0 || write(fd, frames.data(), frames.size()) != static_cast<ssize_t>(frames.size())) _exit(1);
    sleep(60);
    _exit(0);
  }
  Start("-f rawvideo -s 64x48 -pix_fmt yuyv422 --line 0 " + Quote(fifo));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the five frames analysed, then nothing
  const auto quit = std::chrono::steady_clock::now();
  X("key --window " + window_ + " q");
  EXPECT_EQ(Wait(), kExitOk) << ReadText(dir_ / "err");
  std::cout << "ended " << std::chrono::duration<double>(std::chrono::steady_clock::now() - quit).count()
            << " s after q\n";
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  EXPECT_EQ(CsvRows(ReadText(dir_ / "out")).size(), 5u) << ReadText(dir_ / "err");
}

// `s` saves the window as shown: inside the canvas each page is the checked-in picture.
TEST_F(LiveX, SavedWindowShowsThePagesAsTheCheckedInPictures) {
  const char* const pages[] = {"scope", "spectrum", "levels"};
  for (int page = 0; page < 3; ++page) {
    Start("--png " + Quote(dir_.Path()));
    if (page > 0) {
      X("key --window " + window_ + " " + std::to_string(page + 1));
      ASSERT_FALSE(WaitForErr(std::string("page ") + pages[page] + "\n").empty()) << ReadText(dir_ / "err");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // a few frames drawn on the page
    X("key --window " + window_ + " s");
    const std::string path = WaitForErr("saved (\\S*)\n");
    ASSERT_FALSE(path.empty()) << ReadText(dir_ / "err");
    Picture shot, golden;
    ASSERT_TRUE(ReadPng(path, &shot));
    ASSERT_TRUE(ReadPng(std::string(LINEVIEW_GOLDEN_DIR) + "/lineview-" + pages[page] + ".png", &golden));
    const LiveLayout l = LayoutWindow(shot.width, shot.height, 720, 576);
    int diffs = 0;
    for (int y = kPagePlotRect.top; y < kPagePlotRect.bottom; ++y) {
      for (int x = kPagePlotRect.left; x < kPagePlotRect.right; ++x) {
        diffs += shot.pixels[size_t(l.panel.y + y) * shot.width + l.panel.x + x] !=
                 golden.pixels[size_t(y) * golden.width + x];
      }
    }
    EXPECT_EQ(diffs, 0) << pages[page];
    std::remove(path.c_str());
    X("key --window " + window_ + " Escape");
    EXPECT_EQ(Wait(), kExitOk) << ReadText(dir_ / "err");
  }
}

// With the input ended (--hold) or paused, a key shows its effect at once on the last frame: the
// panel is then the page and the read-outs a run with those controls gives. A colour change in
// mid-run leaves the CSV and the summary as they are.
TEST_F(LiveX, KeysShowTheirEffectOnTheLastFrame) {
  SKIP_WITHOUT_FFMPEG();
  std::string fontError;
  auto labels = CreateTextPainter(&fontError), value = CreateTextPainter(&fontError, 60),
       name = CreateTextPainter(&fontError, 18);
  if (!labels || !value || !name) GTEST_SKIP() << fontError;
  // Every frame alike (lossless): the frame shown last is any of them, each frame's ratio the mean's.
  // Odd sizes too, in both layouts the window uploads (the sanitizer builds see a row read past the
  // frame). The BGR24 frames come raw, as they are analysed: no conversion, whole or in a band.
  for (const std::string clip : {"short.mkv 720x576 10", "long.mkv 720x576 100", "odd.mkv 721x577 10",
                                 "tiny.mkv 1x3 10", "odd.bgr 721x577 10"}) {
    std::istringstream in(clip);
    std::string name, size, frames;
    in >> name >> size >> frames;
    ASSERT_TRUE(Ffmpeg("-f lavfi -i smptebars=size=" + size + ":rate=25 -frames:v " + frames +
                       (name.find(".bgr") != std::string::npos ? " -pix_fmt bgr24 -f rawvideo " : " -c:v ffv1 ") +
                       Quote(dir_ / name)));
  }
  const std::string bgr = "-f rawvideo -s 721x577 --pix_fmt bgr24 --convert bgr24";
  const struct {
    std::string clip;
    bool hold;  // else paused
    std::string args, key, notice, page, expected;
  } cases[] = {{"short.mkv", true, "", "", "", "scope", ""},
               {"short.mkv", true, "", "3", "page levels", "levels", "--page levels"},
               {"short.mkv", true, "--line 380", "Next", "line 390", "scope", "--line 390"},
               {"long.mkv", false, "", "c", "colour yuv", "scope", "--color yuv"},
               {"long.mkv", false, "--json", "c", "colour yuv", "scope", "--color yuv"},
               {"odd.mkv", true, "", "", "", "scope", ""},
               {"odd.bgr", true, bgr, "2", "page spectrum", "spectrum", bgr + " --page spectrum"},
               {"tiny.mkv", true, "--line 1", "", "", "scope", "--line 1"},
               // Several lines: the first is shown, and the keys step through them.
               {"short.mkv", true, "--line 100,380,500", "Down", "line 380", "scope", "--line 380"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clip + " " + c.args + " " + c.key);
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::string clip = Quote(dir_ / c.clip);
    Start(clip + " " + c.args + " --png " + Quote(dir_.Path()) + (c.hold ? " --hold --no-pacing" : ""));
    if (c.hold) {
      ASSERT_FALSE(WaitForErr("the input has ended").empty()) << ReadText(dir_ / "err");
    } else {
      X("key --window " + window_ + " space");
      ASSERT_FALSE(WaitForErr("paused\n").empty()) << ReadText(dir_ / "err");
    }
    if (!c.key.empty()) {
      X("key --window " + window_ + " " + c.key);
      ASSERT_FALSE(WaitForErr(c.notice + "\n").empty()) << ReadText(dir_ / "err");
    }
    X("key --window " + window_ + " s");
    const std::string path = WaitForErr("saved (\\S*)\n");
    ASSERT_FALSE(path.empty()) << ReadText(dir_ / "err");
    X("key --window " + window_ + (c.hold ? " q" : " space"));
    EXPECT_EQ(Wait(), kExitOk) << ReadText(dir_ / "err");
    EXPECT_EQ(ReadText(dir_ / "out"), Lineview(clip + " " + c.args).out);

    TempDir want;
    const RunResult plain = Lineview(clip + " " + c.expected + " --png " + Quote(want.Path()));
    const auto rows = CsvRows(plain.out);
    ASSERT_FALSE(rows.empty()) << plain.err;
    AnalysisSettings s{};
    s.ColorMode = c.expected.find("yuv") != std::string::npos;
    const double snr[3] = {std::stod(rows.back()[5]), std::stod(rows.back()[6]), std::stod(rows.back()[7])};
    Picture shot, page, panel;
    ASSERT_TRUE(ReadPng(path, &shot));
    ASSERT_TRUE(ReadPng(want / ("lineview-" + c.page + ".png"), &page));
    const PlotCanvas canvas(kCanvasWidth, kCanvasHeight);
    ComposePanel(panel, canvas, s, snr, "", PanelText{labels.get(), value.get(), name.get()});
    const LiveLayout l = LayoutWindow(shot.width, shot.height, 720, 576);
    const auto at = [&](int x, int y) { return shot.pixels[size_t(l.panel.y + y) * shot.width + l.panel.x + x]; };
    int pageDiffs = 0, readoutDiffs = 0;
    for (int y = kPagePlotRect.top; y < kPagePlotRect.bottom; ++y) {
      for (int x = kPagePlotRect.left; x < kPagePlotRect.right; ++x) pageDiffs += at(x, y) != page.pixels[size_t(y) * page.width + x];
    }
    // The read-outs, above the status line.
    for (int y = kPageHeight + 3; y < kPanelHeight - labels->LineHeight() - 6; ++y) {
      for (int x = 0; x < kPanelWidth; ++x) readoutDiffs += at(x, y) != panel.pixels[size_t(y) * kPanelWidth + x];
    }
    EXPECT_EQ(pageDiffs, 0);
    EXPECT_EQ(readoutDiffs, 0) << rows.back()[5] << " " << rows.back()[6] << " " << rows.back()[7];
  }
}

}  // namespace

namespace {

// Decoded planes are shown as they come, with the line tinted over them as the frame path tints
// a converted frame: the window's picture before a key and after one that converts the last
// frame whole and marks the same line again differ at most in the 4:2:0 chroma rows the
// marked rows share with their neighbours.
TEST_F(LiveX, PlanesShowAsTheConvertedFrameWithTheSameMark) {
  SKIP_WITHOUT_FFMPEG();
  ASSERT_TRUE(Ffmpeg("-f lavfi -i smptebars=size=720x576:rate=25 -frames:v 10 -c:v rawvideo -pix_fmt yuv420p " +
                     Quote(dir_ / "bars.nut")));
  Start(Quote(dir_ / "bars.nut") + " --line 101 --hold --no-pacing --png " + Quote(dir_.Path()));
  ASSERT_FALSE(WaitForErr("the input has ended").empty()) << ReadText(dir_ / "err");
  Picture planes, converted;
  X("key --window " + window_ + " s");
  const std::string path = WaitForErr("saved (\\S*)\n");
  ASSERT_TRUE(ReadPng(path, &planes)) << ReadText(dir_ / "err");
  X("key --window " + window_ + " Down Up");
  ASSERT_FALSE(WaitForErr("line 101\n").empty()) << ReadText(dir_ / "err");
  X("key --window " + window_ + " s");
  // The second save, of the same frame under the same name.
  ASSERT_FALSE(WaitForErr("line 101\n[\\s\\S]*saved (\\S*)\n").empty()) << ReadText(dir_ / "err");
  ASSERT_TRUE(ReadPng(path, &converted));
  X("key --window " + window_ + " q");
  EXPECT_EQ(Wait(), kExitOk);
  ASSERT_EQ(planes.width, converted.width);
  const LiveLayout l = LayoutWindow(planes.width, planes.height, 720, 576);
  const auto pixel = [&](const Picture& p, int x, int y) { return p.pixels[size_t(l.picture.y + y) * p.width + l.picture.x + x]; };
  int differ = 0;
  for (int y = 0; y < l.picture.h; ++y) {
    for (int x = 0; x < l.picture.w; ++x) {
      const uint32_t a = pixel(planes, x, y), b = pixel(converted, x, y);
      for (int shift : {0, 8, 16}) differ += std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > 12;
    }
  }
  EXPECT_LT(differ, l.picture.w * l.picture.h * 3 / 100) << "of " << l.picture.w * l.picture.h << " pixels";
  // The line is tinted red in both: more red than the grey bar above it.
  const int row = 101 * l.picture.h / 576;
  for (const Picture* p : {&planes, &converted}) {
    EXPECT_GT(int(pixel(*p, 20, row) >> 16 & 0xFF) - int(pixel(*p, 20, row) & 0xFF), 40);
    EXPECT_LT(std::abs(int(pixel(*p, 20, row - 10) >> 16 & 0xFF) - int(pixel(*p, 20, row - 10) & 0xFF)), 10);
  }
}

}  // namespace
