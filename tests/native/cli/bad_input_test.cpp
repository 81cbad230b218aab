// Every kind of bad input ends with a clear message and its own exit status, never a crash.
#include <gtest/gtest.h>

#include "cli/exit_codes.h"
#include "cli_test_util.h"

namespace {

constexpr int kYuyvFrame = 720 * 576 * 2;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(BadInput, FileThatCannotBeOpened) {
  TempDir dir;
  const RunResult missing = Lineview(Quote(dir / "missing.mkv"));
  EXPECT_EQ(missing.status, kExitCannotOpen);
  EXPECT_TRUE(Contains(missing.err, "cannot open '" + (dir / "missing.mkv") + "'")) << missing.err;
  EXPECT_TRUE(missing.out.empty());

  { std::ofstream(dir / "noise.mkv") << std::string(5000, '\x5a'); }
  const RunResult garbage = Lineview(Quote(dir / "noise.mkv"));
  EXPECT_EQ(garbage.status, kExitCannotOpen) << garbage.err;
  EXPECT_TRUE(Contains(garbage.err, "noise.mkv")) << garbage.err;
}

TEST(BadInput, StreamWithoutVideo) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=frequency=1000:duration=1 " + Quote(dir / "tone.wav")));
  const RunResult r = Lineview(Quote(dir / "tone.wav"));
  EXPECT_EQ(r.status, kExitNoVideo);
  EXPECT_TRUE(Contains(r.err, "has no video stream")) << r.err;
}

TEST(BadInput, RawStreamSmallerThanOneFrameOfTheGivenSize) {
  for (int bytes : {0, 1000, kYuyvFrame - 2}) {
    const RunResult r = RunShell("head -c " + std::to_string(bytes) + " /dev/zero | " + Quote(LineviewExe()) +
                                 " -f rawvideo -s 720x576 -pix_fmt yuyv422 -");
    EXPECT_EQ(r.status, kExitRawSizeMismatch) << bytes << r.err;
    EXPECT_TRUE(Contains(r.err, "holds " + std::to_string(bytes) + " bytes, less than one 720x576 yuyv422 frame of " +
                                    std::to_string(kYuyvFrame) + " bytes"))
        << r.err;
  }
}

TEST(BadInput, TruncatedLastFrameIsReportedAfterTheWholeOnes) {
  const int bytes = 3 * kYuyvFrame + 12345;
  const RunResult r = RunShell("head -c " + std::to_string(bytes) + " /dev/zero | " + Quote(LineviewExe()) +
                               " -f rawvideo -s 720x576 -pix_fmt yuyv422 -");
  EXPECT_EQ(r.status, kExitTruncated) << r.err;
  EXPECT_TRUE(Contains(r.err, "truncated: 12345 of " + std::to_string(kYuyvFrame) + " bytes; 3 whole frames analysed"))
      << r.err;
  EXPECT_EQ(CsvRows(r.out).size(), 3u);

  // Without -f the size alone says the pipe is raw; the same file on disk behaves the same.
  TempDir dir;
  ASSERT_EQ(std::system(("head -c " + std::to_string(bytes) + " /dev/zero >" + Quote(dir / "f.yuv")).c_str()), 0);
  const RunResult file = Lineview("-f rawvideo -s 720x576 -pix_fmt yuyv422 " + Quote(dir / "f.yuv"));
  EXPECT_EQ(file.status, kExitTruncated) << file.err;
  EXPECT_EQ(CsvRows(file.out).size(), 3u);
  const RunResult json = Lineview("-f rawvideo -s 720x576 -pix_fmt yuyv422 --json " + Quote(dir / "f.yuv"));
  EXPECT_EQ(json.status, kExitTruncated);
  EXPECT_NE(json.out.find("\"frames_analysed\": 3,\n  \"frames_dropped\": 1,"), std::string::npos) << json.out;
  const RunResult whole = RunShell("head -c " + std::to_string(2 * kYuyvFrame) + " /dev/zero | " +
                                   Quote(LineviewExe()) + " -s 720x576 -pix_fmt yuyv422 -");
  EXPECT_EQ(whole.status, kExitOk) << whole.err;
  EXPECT_TRUE(whole.err.empty());
  EXPECT_EQ(CsvRows(whole.out).size(), 2u);
}

TEST(BadInput, RawOptionsThatDescribeNoFrame) {
  const std::string pipe = "head -c 100 /dev/zero | " + Quote(LineviewExe());
  RunResult r = RunShell(pipe + " -f rawvideo -pix_fmt yuyv422 -");
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(Contains(r.err, "-s WxH")) << r.err;
  r = RunShell(pipe + " -s 720by576 -pix_fmt yuyv422 -");
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(Contains(r.err, "'720by576' is not a frame size")) << r.err;
  r = RunShell(pipe + " -s 720x576 -pix_fmt yuv999 -");
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(Contains(r.err, "'yuv999' is not a pixel format")) << r.err;
}

TEST(BadInput, UnreadableSettingsFileRunsOnDefaults) {
  TempDir dir;
  const RunResult r = Lineview("--settings " + Quote(dir / "gone.ini"));
  EXPECT_EQ(r.status, kExitSettingsUnreadable);
  EXPECT_TRUE(Contains(r.err, "warning: cannot read settings file '" + (dir / "gone.ini") + "'")) << r.err;
  EXPECT_EQ(CsvRows(r.out).size(), 100u);  // the whole built-in signal still analysed
  EXPECT_EQ(RunShell(Quote(LineviewExe())).out, r.out);  // exactly as with the defaults
}

TEST(BadInput, LineBeyondTheFrameIsClampedWithAWarning) {
  const RunResult r = Lineview("--line 900 --frames 3");
  EXPECT_EQ(r.status, kExitLineClamped);
  EXPECT_TRUE(Contains(r.err, "line 900 is outside the frame's 576 lines: line 575 is used")) << r.err;
  EXPECT_EQ(r.out, Lineview("--line 575 --frames 3").out);
}

// Frame sizes at the edges of what the layouts hold (odd widths leave a pixel without its
// pair, one row leaves no row below the marked one): analysed, never read or written outside.
TEST(BadInput, TinyAndOddFrames) {
  for (const char* size : {"1x1", "3x3", "7x5", "4096x1"}) {
    for (const char* fmt : {"yuyv422", "bgr24"}) {
      const std::string convert = std::string(fmt) == "bgr24" ? " --convert bgr24" : "";
      const RunResult r = RunShell("seq 1 50000 | head -c 200000 | " + Quote(LineviewExe()) + " -s " + size +
                                   " -pix_fmt " + fmt + convert + " --line 0 --page all --json -");
      EXPECT_TRUE(r.status == kExitOk || r.status == kExitTruncated) << size << " " << fmt << r.err;
      EXPECT_NE(r.out.find("\"frames_analysed\": "), std::string::npos) << size << " " << fmt;
    }
  }
}

}  // namespace

