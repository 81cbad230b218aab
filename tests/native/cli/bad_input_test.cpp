// Every kind of bad input ends with a clear message and its own exit status, never a crash.
#include <gtest/gtest.h>
#include <sys/stat.h>


#include "cli/common/exit_codes.h"
#include "cli_test_util.h"

namespace {

constexpr int kYuyvFrame = 720 * 576 * 2;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Ten PNG frames as an image sequence; the `broken` files are cut inside their first chunk, so
// the decoder refuses exactly those.
bool PngSequence(const std::string& folder, const std::string& broken) {
  std::filesystem::create_directories(folder);
  return Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25 -frames:v 10 " + Quote(folder + "/f%03d.png")) &&
         std::system(("cd " + Quote(folder) + " && truncate -s 60 " + broken).c_str()) == 0;
}

// The reader is gone and SIGPIPE ignored (as under many supervisors): each write fails, and
// the run must end there rather than decode an endless input for nothing.
TEST(BadInput, AReaderThatHasGoneEndsTheRun) {
  TempDir dir;
  const RunResult r = RunShell("trap '' PIPE; (timeout 30 " + Quote(LineviewExe()) +
                               " -f rawvideo -s 16x2 -pix_fmt yuyv422 --line 0 /dev/zero 2>" + Quote(dir / "err") +
                               "; echo $? >" + Quote(dir / "status") + ") | head -c 100 >/dev/null");
  EXPECT_EQ(ReadText(dir / "status"), "1\n");
  EXPECT_EQ(ReadText(dir / "err"), "lineview: cannot write the output: Broken pipe\n");
}

// Inputs that lose frames, from all of them to none: each ends in its own status with one
// message about it, and a failed run says nothing else.
TEST(BadInput, LostFramesEndInTheirOwnStatus) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(PngSequence(dir / "all", "*.png") && PngSequence(dir / "some", "f005.png f010.png"));
  std::ofstream(dir / "nv16.yuv", std::ios::binary) << std::string(64 * 32 * 2 * 30, '\x80');
  // A stream whose fourth frame header is damaged: the demuxer stops there with an error.
  std::string y4m = "YUV4MPEG2 W8 H8 F25:1 Ip A1:1 C420jpeg\n";
  for (int n = 0; n < 5; ++n) y4m += (n == 3 ? "FRAXE\n" : "FRAME\n") + std::string(96, char(16 + 40 * n));
  std::ofstream(dir / "r.y4m", std::ios::binary) << y4m;
  std::ofstream(dir / "fonts.conf") << "<?xml version=\"1.0\"?><fontconfig></fontconfig>\n";
  // A transport stream with bytes flipped here and there: the decoder conceals what it lost.
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 50 -c:v mpeg2video " + Quote(dir / "t.ts")));
  std::string ts = ReadText(dir / "t.ts");
  for (size_t at = 20000; at + 8 < ts.size(); at += 9973) {
    for (size_t k = 0; k < 8; ++k) ts[at + k] = static_cast<char>(ts[at + k] ^ 0xFF);
  }
  std::ofstream(dir / "damaged.ts", std::ios::binary) << ts;

  const std::string exe = Quote(LineviewExe()) + " --line 0 ";
  const struct {
    std::string command, message;
    int status;
    size_t rows;
  } cases[] = {
      {exe + "-f rawvideo -s 64x32 -pix_fmt nv16 " + Quote(dir / "nv16.yuv"), "are nv16, which libswscale cannot",
       kExitCannotOpen, 0},
      {exe + Quote(dir / "all/f%03d.png"), "no video frame could be decoded (FFmpeg: [png] ", kExitCannotOpen, 0},
      {exe + Quote(dir / "some/f%03d.png"), "warning: 2 frames of '" + (dir / "some/f%03d.png") + "' could not be",
       kExitFramesDropped, 8},
      {exe + Quote(dir / "r.y4m"), "could not be read to its end", kExitReadError, 3},
      {"FONTCONFIG_FILE=" + Quote(dir / "fonts.conf") + " " + exe + "--frames 1 --png " + Quote(dir / "png"),
       "pictures without axis labels", kExitNoFont, 1},
      {exe + Quote(dir / "damaged.ts"), "that the decoder concealed or flagged: analysed as decoded", kExitDamaged, 50},
  };
  for (const auto& c : cases) {
    const RunResult r = RunShell(c.command);
    EXPECT_EQ(r.status, c.status) << c.command << r.err;
    EXPECT_EQ(Count(r.err, c.message), 1u) << r.err;
    EXPECT_EQ(CsvRows(r.out).size(), c.rows) << c.command;
    if (c.rows == 0) {
      EXPECT_TRUE(Count(r.err, "\n") == 1 && r.out.empty()) << r.err << r.out;
    }
  }

  // A library message repeated by every broken frame shows once with its count; --verbose shows each.
  const RunResult quiet = RunShell(cases[2].command);
  EXPECT_EQ(Count(quiet.err, "chunk too big"), 1u) << quiet.err;
  EXPECT_TRUE(Contains(quiet.err, "chunk too big (and 1 more like it)")) << quiet.err;
  EXPECT_EQ(Count(RunShell(cases[2].command + " --verbose").err, "chunk too big"), 2u);
}

// A settings file the user may only read is read; a picture folder that refuses new files is
// found before the input is, here an endless one.
TEST(BadInput, PlacesTheUserMayOnlyRead) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  std::ofstream(dir / "s.ini", std::ios::binary) << "[PluginSettings]\r\nTVLine=7\r\n";
  ASSERT_EQ(chmod((dir / "s.ini").c_str(), 0444), 0);
  std::filesystem::create_directory(dir / "ro");
  ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);

  const RunResult settings = RunShell(AsAnotherUser(Quote(LineviewExe()) + " --frames 3 --settings " + Quote(dir / "s.ini")));
  EXPECT_EQ(settings.status, kExitOk) << settings.err;
  EXPECT_EQ(settings.out, Lineview("--frames 3 --line 7").out);

  const RunResult png = RunShell(AsAnotherUser("timeout 30 " + Quote(LineviewExe()) +
                                               " -f rawvideo -s 16x2 -pix_fmt yuyv422 --line 0 /dev/zero --png " +
                                               Quote(dir / "ro")));
  EXPECT_EQ(png.status, kExitFailure);
  EXPECT_EQ(png.err, "lineview: cannot write into folder '" + (dir / "ro") + "': Permission denied\n");
}

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
  r = RunShell(pipe + " -s 720x576 -");  // a layout guessed would measure garbage
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(Contains(r.err, "raw input needs its pixel format: -pix_fmt")) << r.err;
}

TEST(BadInput, UnreadableSettingsFileRunsOnDefaults) {
  TempDir dir;
  const RunResult r = Lineview("--settings " + Quote(dir / "gone.ini"));
  EXPECT_EQ(r.status, kExitSettingsUnreadable);
  EXPECT_TRUE(Contains(r.err, "warning: cannot read settings file '" + (dir / "gone.ini") + "'")) << r.err;
  EXPECT_EQ(CsvRows(r.out).size(), 100u);  // the whole built-in signal still analysed
  EXPECT_EQ(RunShell(Quote(LineviewExe())).out, r.out);  // exactly as with the defaults
}

// A line from the settings (the file's, or the default 100 on a small frame) is moved to the
// last row with a warning, as the plug-in moves it; one typed with --line is refused.
TEST(BadInput, LineBeyondTheFrame) {
  TempDir dir;
  std::ofstream(dir / "s.ini", std::ios::binary) << "[PluginSettings]\r\nTVLine=900\r\n";
  const RunResult fromFile = Lineview("--settings " + Quote(dir / "s.ini") + " --frames 3");
  EXPECT_EQ(fromFile.status, kExitLineClamped);
  EXPECT_TRUE(Contains(fromFile.err, "line 900 is outside the frame's 576 lines: line 575 is used")) << fromFile.err;
  EXPECT_EQ(fromFile.out, Lineview("--line 575 --frames 3").out);
  const RunResult typed = Lineview("--line 900 --frames 3");
  EXPECT_EQ(typed.status, kExitUsage);
  EXPECT_TRUE(Contains(typed.err, "--line 900: the frames have 576 lines, 0 to 575")) << typed.err;
  EXPECT_EQ(typed.out, "");
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

