// lineview on FFmpeg's own test sources, made by the ffmpeg program at test time, as files and
// as raw frames through a pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "cli/common/exit_codes.h"
#include "cli_test_util.h"

namespace {

// The ratio of a flat line: white - black + 1 = 220 over the noise floor sigma 0.036060891.
const std::string kFlatLineDb = [] {
  char b[16];
  std::snprintf(b, sizeof b, "%.2f", 20.0 * std::log10(220.0 / 0.036060891));
  return std::string(b);
}();

// The three 50-frame means of a row (the frame's own ratios follow them).
std::vector<std::string> Readouts(const std::vector<std::string>& row) { return {row.begin() + 2, row.begin() + 5}; }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
  }
  std::string RawPipe(const std::string& source, const std::string& pixFmt, int frames) {
    return "ffmpeg -nostdin -v error -f lavfi -i " + Quote(source) + " -frames:v " + std::to_string(frames) +
           " -f rawvideo -pix_fmt " + pixFmt + " - | " + Quote(LineviewExe());
  }
  TempDir dir;
};

TEST_F(EndToEnd, SmptebarsFromAFileAndFromARawPipeReadTheSame) {
  const std::string bars = "smptebars=size=720x576:rate=25";
  ASSERT_TRUE(Ffmpeg("-f lavfi -i " + bars + " -frames:v 60 -c:v rawvideo -pix_fmt yuyv422 " + Quote(dir / "b.nut")));
  const RunResult file = Lineview(Quote(dir / "b.nut"));
  const RunResult pipe = RunShell(RawPipe(bars, "yuyv422", 60) + " -f rawvideo -s 720x576 -pix_fmt yuyv422 -");
  ASSERT_EQ(file.status, kExitOk) << file.err;
  ASSERT_EQ(pipe.status, kExitOk) << pipe.err;
  // Quiet off a terminal: no progress; only the word that the bars are picture, not noise.
  const std::string barsAreNoQuietLine = "line 100 is not a quiet line";
  for (const RunResult* r : {&file, &pipe}) {
    EXPECT_NE(r->err.find(barsAreNoQuietLine), std::string::npos) << r->err;
    EXPECT_EQ(std::count(r->err.begin(), r->err.end(), '\n'), 1) << r->err;
  }
  std::string header;
  const auto rows = CsvRows(file.out, &header);
  EXPECT_EQ(header, "frame,time,R,G,B,R_frame,G_frame,B_frame");
  ASSERT_EQ(rows.size(), 60u);
  EXPECT_EQ(rows, CsvRows(pipe.out));
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 8u);
    EXPECT_EQ(std::stoi(rows[i][0]), static_cast<int>(i));
    EXPECT_NEAR(std::stod(rows[i][1]), i * 0.04, 1e-9);
  }
  // Line 100 crosses the seven bars: far from flat, the ratio is low, and the same in every
  // 50-frame mean once the ring is full.
  EXPECT_LT(std::stod(rows[59][2]), 30.0);
  EXPECT_EQ(Readouts(rows[49]), Readouts(rows[59]));
}

TEST_F(EndToEnd, Testsrc2AsH264AndAsABgr24Pipe) {
  const std::string src = "testsrc2=size=720x576:rate=25";
  ASSERT_TRUE(Ffmpeg("-f lavfi -i " + src + " -frames:v 30 -c:v libx264 -pix_fmt yuv420p " + Quote(dir / "t.mkv")) ||
              Ffmpeg("-f lavfi -i " + src + " -frames:v 30 -c:v mpeg4 " + Quote(dir / "t.mkv")));
  const RunResult file = Lineview(Quote(dir / "t.mkv") + " --color yuv --json");
  ASSERT_EQ(file.status, kExitOk) << file.err;
  EXPECT_NE(file.out.find("\"frames_analysed\": 30,"), std::string::npos) << file.out;
  EXPECT_NE(file.out.find("\"frames_dropped\": 0,"), std::string::npos) << file.out;
  EXPECT_NE(file.out.find("\"Y\": {\"mean\": "), std::string::npos) << file.out;

  const RunResult pipe =
      RunShell(RawPipe(src, "bgr24", 30) + " -f rawvideo -s 720x576 -pix_fmt bgr24 --convert bgr24 -");
  ASSERT_EQ(pipe.status, kExitOk) << pipe.err;
  const auto rows = CsvRows(pipe.out);
  ASSERT_EQ(rows.size(), 30u);
  for (const auto& row : rows) {
    for (const std::string& v : Readouts(row)) EXPECT_TRUE(std::isfinite(std::stod(v))) << v;
  }
}

// A grey top half over bars: line 100 is flat, line 400 is not. Reading the wrong half in
// either layout (BGR24 frames are bottom-up) shows at once.
TEST_F(EndToEnd, TheLineCountsFromTheTopInBothLayouts) {
  const std::string split =
      "color=c=gray:size=720x288:rate=25[a];smptebars=size=720x288:rate=25[b];[a][b]vstack[out0]";
  ASSERT_TRUE(Ffmpeg("-f lavfi -i " + Quote(split) + " -frames:v 50 -c:v ffv1 " + Quote(dir / "s.mkv")));
  for (const char* convert : {"yuyv422", "bgr24"}) {
    const RunResult top = Lineview(Quote(dir / "s.mkv") + " --line 100 --convert " + convert);
    const RunResult bottom = Lineview(Quote(dir / "s.mkv") + " --line 400 --convert " + convert);
    ASSERT_EQ(top.status, kExitOk) << top.err;
    const auto topRows = CsvRows(top.out), bottomRows = CsvRows(bottom.out);
    ASSERT_EQ(topRows.size(), 50u);
    EXPECT_EQ(Readouts(topRows.back()), std::vector<std::string>(3, kFlatLineDb)) << convert;
    EXPECT_LT(std::stod(bottomRows.back()[2]), 30.0) << convert;
  }
  const RunResult pipe = RunShell(RawPipe(split, "bgr24", 50) + " -s 720x576 -pix_fmt bgr24 --convert bgr24 -");
  ASSERT_EQ(pipe.status, kExitOk) << pipe.err;
  EXPECT_EQ(Readouts(CsvRows(pipe.out).back()), std::vector<std::string>(3, kFlatLineDb));
}

// The summary is taken over each frame's own ratio, not over the 50-frame means, whose first
// 49 values still climb from zero.
TEST_F(EndToEnd, JsonSummarisesTheFramesOwnRatios) {
  const std::string src = "testsrc2=size=720x576:rate=25";
  ASSERT_TRUE(Ffmpeg("-f lavfi -i " + src + " -frames:v 40 -c:v ffv1 " + Quote(dir / "t.mkv")));
  const RunResult csv = Lineview(Quote(dir / "t.mkv") + " --line 300");
  const RunResult json = Lineview(Quote(dir / "t.mkv") + " --line 300 --json");
  ASSERT_EQ(json.status, kExitOk) << json.err;
  const auto rows = CsvRows(csv.out);
  ASSERT_EQ(rows.size(), 40u);
  for (const auto& row : rows) ASSERT_EQ(row.size(), 8u);
  for (int c = 0; c < 3; ++c) {
    double sum = 0, sq = 0, lo = 1e9, hi = -1e9;
    for (const auto& row : rows) {
      const double v = std::stod(row[5 + c]);
      sum += v;
      sq += v * v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    const double mean = sum / rows.size();
    const double sd = std::sqrt(std::max(0.0, sq / rows.size() - mean * mean));
    SnrStats j;
    ASSERT_TRUE(JsonSnr(json.out, std::string(1, "RGB"[c]), &j)) << json.out;
    // The CSV shows two decimals.
    EXPECT_NEAR(j.mean, mean, 0.006);
    EXPECT_NEAR(j.min, lo, 0.006);
    EXPECT_NEAR(j.max, hi, 0.006);
    EXPECT_NEAR(j.stddev, sd, 0.01);
  }
}

TEST_F(EndToEnd, PicturesOfEverySelectedPage) {
  const std::string out = dir / "png";
  const RunResult r = Lineview("--page all --every 40 --png " + Quote(out));
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"lineview-levels-000039.png", "lineview-levels-000079.png",
                                             "lineview-levels.png", "lineview-scope-000039.png",
                                             "lineview-scope-000079.png", "lineview-scope.png",
                                             "lineview-spectrum-000039.png", "lineview-spectrum-000079.png",
                                             "lineview-spectrum.png"}));
  // The built-in bars are the same in every frame: pictures drawn on the way (through the frame
  // path) and after the end (the last frame) must agree.
  for (const char* page : {"scope", "spectrum", "levels"}) {
    const std::string base = out + "/lineview-" + page;
    EXPECT_EQ(ReadText(base + "-000079.png"), ReadText(base + ".png")) << page;
  }
  const RunResult bad = Lineview("--frames 1 --png /proc/lineview-cannot-be-here");
  EXPECT_EQ(bad.status, kExitFailure);
  EXPECT_NE(bad.err.find("cannot create folder"), std::string::npos) << bad.err;
}

// -ss with -t or -to, on a file (a seek, then frames dropped up to the start) and on raw frames
// through a pipe (counted): the same numbers as the frames cut out by ffmpeg beforehand, with
// the input's own times and frame numbers.
TEST_F(EndToEnd, AStartAndALengthTakeTheFramesFfmpegCutsOut) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i 'testsrc2=size=320x240:rate=25,noise=alls=20:allf=t' -t 5 -c:v libx264 -g 50 " +
                     Quote(dir / "src.mkv")) &&
              Ffmpeg("-ss 2 -i " + Quote(dir / "src.mkv") + " -t 1 -c:v ffv1 " + Quote(dir / "cut.mkv")));
  const std::string raw = " -f rawvideo -pix_fmt yuyv422 - | " + Quote(LineviewExe()) + " -s 320x240 -pix_fmt yuyv422 ";
  const std::string fromSrc = "ffmpeg -nostdin -v error -i " + Quote(dir / "src.mkv") + raw;
  const std::string fromCut = "ffmpeg -nostdin -v error -i " + Quote(dir / "cut.mkv") + raw;
  const struct {
    std::string run, cut;
  } cases[] = {
      {Quote(LineviewExe()) + " " + Quote(dir / "src.mkv") + " -ss 2 -t 1", Quote(LineviewExe()) + " " + Quote(dir / "cut.mkv")},
      {Quote(LineviewExe()) + " -ss 00:00:02.000 -to 3 " + Quote(dir / "src.mkv"), Quote(LineviewExe()) + " " + Quote(dir / "cut.mkv")},
      {fromSrc + "-ss 2 -t 1 -", fromCut + "-"},
  };
  for (const auto& c : cases) {
    const RunResult run = RunShell(c.run + " --line 50"), cut = RunShell(c.cut + " --line 50");
    ASSERT_EQ(run.status, kExitOk) << c.run << run.err;
    const auto rows = CsvRows(run.out), expected = CsvRows(cut.out);
    ASSERT_EQ(rows.size(), 25u) << c.run;
    ASSERT_EQ(expected.size(), 25u) << c.cut;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i][0], std::to_string(50 + i)) << c.run;
      EXPECT_NEAR(std::stod(rows[i][1]), std::stod(expected[i][1]) + 2.0, 1e-9) << c.run << " row " << i;
      EXPECT_EQ(std::vector<std::string>(rows[i].begin() + 2, rows[i].end()),
                std::vector<std::string>(expected[i].begin() + 2, expected[i].end()))
          << c.run << " row " << i;
    }
  }
}

// An archive run: each input's pictures under a name of their own (two files of one name in
// two folders as well), a line of its own in the JSON for an input that fails, and an output
// that fails ends the whole run at once.
TEST_F(EndToEnd, ArchiveRunsKeepEachInputApart) {
  std::filesystem::create_directories(dir / "x");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25 -frames:v 3 " + Quote(dir / "a.mkv")) &&
              Ffmpeg("-f lavfi -i smptebars=size=160x120:rate=25 -frames:v 3 " + Quote(dir / "x/a.mkv")));
  const std::string inputs = Quote(dir / "a.mkv") + " " + Quote(dir / "missing.mkv") + " " + Quote(dir / "x/a.mkv");
  const RunResult r = Lineview(inputs + " --line 0 --json --png " + Quote(dir / "png"));
  EXPECT_EQ(r.status, kExitCannotOpen) << r.err;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir / "png")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"lineview-a.mkv-2-scope.png", "lineview-a.mkv-scope.png"}));
  EXPECT_NE(ReadText(dir / "png/lineview-a.mkv-scope.png"), ReadText(dir / "png/lineview-a.mkv-2-scope.png"));
  std::istringstream lines(r.out);
  std::vector<std::string> json;
  for (std::string line; std::getline(lines, line);) json.push_back(line);
  ASSERT_EQ(json.size(), 3u) << r.out;
  EXPECT_EQ(json[1].rfind("{\"input\": \"" + (dir / "missing.mkv") + "\", \"verdict\": \"failed\", \"error\": \"cannot open '", 0),
            0u)
      << json[1];
  EXPECT_NE(json[1].find("\"status\": 3}"), std::string::npos) << json[1];
  EXPECT_NE(json[2].find("/x/a.mkv\",\"line\": 0,"), std::string::npos) << json[2];
  EXPECT_NE(json[2].find("\"frames_analysed\": 3,"), std::string::npos) << json[2];

  // The output is closed: the first failed write ends the run, in both kinds of output.
  for (const char* json : {"", " --json"}) {
    const RunResult gone = Lineview(inputs + " " + inputs + json + " >&-");
    EXPECT_EQ(gone.status, kExitFailure) << json;
    EXPECT_EQ(gone.err.find("cannot write"), gone.err.rfind("cannot write")) << gone.err;
    EXPECT_EQ(gone.err.find("missing.mkv"), std::string::npos) << gone.err;  // never reached
  }
}

// The progress line appears only on a terminal (a pseudo-terminal from script(1) here).
TEST(ProgressLine, OnATerminalOnly) {
  if (std::system("script -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
  const RunResult tty = RunShell("script -qec \"'" + LineviewExe() + "' >/dev/null\" /dev/null");
  EXPECT_EQ(tty.status, kExitOk);
  EXPECT_NE(tty.out.find("\r[##############################] 100/100 frames"), std::string::npos) << tty.out;
  EXPECT_EQ(tty.out.back(), '\n');
  const RunResult quiet = RunShell("script -qec \"'" + LineviewExe() + "' --no-progress >/dev/null\" /dev/null");
  EXPECT_EQ(quiet.out.find("frames"), std::string::npos) << quiet.out;
}

}  // namespace
