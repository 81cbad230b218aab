// Results over time for archives: thresholds that flag the frames where the noise rises,
// sidecars that ffprobe's schema takes and that give back the run's report byte for byte,
// and sidecars that are damaged or not ours.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <regex>

#include "cli/common/exit_codes.h"
#include "cli_test_util.h"
#include "cli/output/samples_page.h"
#include "cli/results/recorder.h"
#include "cli/output/sidecar_reader.h"
#include "cli/output/sidecar_keys.h"

namespace {

constexpr const char* kSchema = "/usr/share/ffmpeg/ffprobe.xsd";

// A flat grey clip whose noise rises at frames 50..74 and 90..92 of 120.
class QcArchive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    clip_ = *dir_ / "noisy.mkv";
    ok_ = Ffmpeg("-f lavfi -i \"color=c=0x808080:s=720x576:r=25,noise=alls=12:allf=t:"
                 "enable='between(n,50,74)+between(n,90,92)'\" -frames:v 120 -c:v ffv1 " + Quote(clip_));
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    ASSERT_TRUE(ok_);
  }
  static TempDir* dir_;
  static std::string clip_;
  static bool ok_;
};
TempDir* QcArchive::dir_ = nullptr;
std::string QcArchive::clip_;
bool QcArchive::ok_ = false;

// The segments of a JSON summary as "first-last" frame pairs.
std::string Segments(const std::string& json) {
  std::string out;
  static const std::regex segment("\"first_frame\": (\\d+), \"last_frame\": (\\d+)");
  for (std::sregex_iterator i(json.begin(), json.end(), segment), end; i != end; ++i) {
    out += (out.empty() ? "" : " ") + (*i)[1].str() + "-" + (*i)[2].str();
  }
  return out;
}

// Every value of one tag key in a sidecar, in file order.
std::vector<double> TagValues(const std::string& path, const std::string& key) {
  const RunResult r = RunShell("zcat " + Quote(path));
  std::vector<double> v;
  const std::regex tag("key=\"" + key + "\" value=\"([^\"]*)\"");
  for (std::sregex_iterator i(r.out.begin(), r.out.end(), tag), end; i != end; ++i) v.push_back(std::stod((*i)[1]));
  return v;
}

bool Validates(const std::string& path) {
  return RunShell("zcat " + Quote(path) + " | xmllint --noout --schema " + kSchema + " -").status == 0;
}

TEST_F(QcArchive, ThresholdsFlagTheFramesWhereTheNoiseRises) {
  const struct {
    std::string args, segments, verdict;
    int status;
  } cases[] = {
      {"--min-snr 40 --flag-gap 0.5", "50-74 90-92", "flag", kExitFlagged},
      {"--min-snr 40", "50-92", "flag", kExitFlagged},  // 0.64 s apart: joined by the default gap
      {"--min-snr 40 --flag-gap 0", "50-74 90-92", "flag", kExitFlagged},
      {"--min-snr 20", "", "pass", kExitOk},
      {"--max-dropped 0", "", "pass", kExitOk},
  };
  for (const auto& c : cases) {
    const RunResult r = Lineview("--json --no-progress " + c.args + " " + Quote(clip_));
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_EQ(Segments(r.out), c.segments) << c.args << ": " << r.out;
    EXPECT_NE(r.out.find("\"verdict\": \"" + c.verdict + "\""), std::string::npos) << c.args << ": " << r.out;
  }
}

TEST_F(QcArchive, SidecarsValidateHoldTheCsvValuesAndRebuildTheSameReport) {
  TempDir out;
  const std::string common = " --no-progress --min-snr 40 --snr-range 20:80 ";
  const RunResult csv = Lineview(Quote(clip_) + " --no-progress");
  const RunResult run = Lineview(Quote(clip_) + common + "--sidecar=" + Quote(out / "sc") + " --report " +
                                 Quote(out / "run.html") + " --plot " + Quote(out / "run.png") + " >/dev/null");
  ASSERT_EQ(run.status, kExitFlagged) << run.err;
  const std::string sidecar = out / "sc/noisy.mkv.lineview.xml.gz";
  EXPECT_TRUE(Validates(sidecar));

  // The frame's own SNR and the 50-frame mean equal the CSV's columns.
  const auto rows = CsvRows(csv.out);
  const std::vector<double> own = TagValues(sidecar, "lineview.snr.r"), mean = TagValues(sidecar, "lineview.snr50.r");
  ASSERT_EQ(own.size(), rows.size());
  ASSERT_EQ(mean.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NEAR(own[i], std::stod(rows[i][5]), 0.01) << "frame " << i;
    EXPECT_NEAR(mean[i], std::stod(rows[i][2]), 0.01) << "frame " << i;
  }

  const RunResult from = Lineview("--from " + Quote(sidecar) + common + "--report " + Quote(out / "from.html") +
                                  " --plot " + Quote(out / "from.png"));
  EXPECT_EQ(from.status, kExitFlagged) << from.err;
  const std::string page = ReadText(out / "run.html");
  EXPECT_FALSE(page.empty());
  EXPECT_EQ(page, ReadText(out / "from.html"));
  EXPECT_EQ(ReadText(out / "run.png"), ReadText(out / "from.png"));
}

TEST_F(QcArchive, InputsOfOneNameGetSidecarsOfTheirOwn) {
  TempDir out;
  const std::string a = out / "a", b = out / "b";
  std::filesystem::create_directories(a), std::filesystem::create_directories(b);
  std::filesystem::copy_file(clip_, a + "/c.mkv"), std::filesystem::copy_file(clip_, b + "/c.mkv");
  const RunResult r = Lineview("--json --no-progress --frames 3 --sidecar=" + Quote(out / "sc") + " " +
                               Quote(a + "/c.mkv") + " " + Quote(b + "/c.mkv"));
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_TRUE(Validates(out / "sc/c.mkv.lineview.xml.gz"));
  EXPECT_TRUE(Validates(out / "sc/c.mkv-2.lineview.xml.gz"));
  // Beside the input when no folder is named.
  EXPECT_EQ(Lineview("--no-progress --frames 3 --sidecar " + Quote(a + "/c.mkv") + " >/dev/null").status, kExitOk);
  EXPECT_TRUE(Validates(a + "/c.mkv.lineview.xml.gz"));
}

// However long the input, the frames kept for the pictures are the lowest and one at the median,
// each with its whole line.
TEST(Timeline, KeepsTheWorstAndATypicalFrameWithTheirSamples) {
  for (int frames : {1, 63, 64, 65, 120, 1000}) {
    Timeline t;
    t.settings.RColor = t.settings.GColor = t.settings.BColor = 1;
    TimelineRecorder recorder(&t);
    std::vector<int32_t> line(16);
    const int32_t* samples[3] = {line.data(), line.data(), line.data()};
    int64_t lowest = 0;
    for (int i = 0; i < frames; ++i) {
      TimelineFrame f;
      f.index = i, f.seconds = i * 0.04;
      // 30..70, the median 50 at the first frame (the first candidate kept)
      f.snr[0] = f.snr[1] = 80, f.snr[2] = 30 + (i * 37 + 20) % 41;
      if (f.snr[2] < 30 + (lowest * 37 + 20) % 41) lowest = i;
      std::fill(line.begin(), line.end(), i);
      recorder.Add(f, samples, static_cast<int>(line.size()));
    }
    recorder.Finish();
    EXPECT_EQ(t.worst.frame, lowest) << frames;
    ASSERT_EQ(t.typical.channel[2].size(), line.size()) << frames;
    EXPECT_EQ(t.typical.channel[2][0], t.typical.frame) << frames << ": the samples of its own frame";
    if (frames >= 64) {
      EXPECT_NEAR(t.frames[t.typical.frame].snr[2], 50, 3) << frames;
    }
  }
}

TEST(Sidecar, PathBesideTheInputOrInTheFolderNamed) {
  const struct {
    std::string input, dir, path;
  } cases[] = {{"tapes/a.mkv", "", "tapes/a.mkv.lineview.xml.gz"},
               {"tapes/a.mkv", "out", "out/a.mkv.lineview.xml.gz"},
               {"-", "", "stdin.lineview.xml.gz"},
               {"", "out", "out/builtin.lineview.xml.gz"},
               {"http://host/live/x.ts", "", "x.ts.lineview.xml.gz"}};
  for (const auto& c : cases) EXPECT_EQ(SidecarPath(c.input, c.dir), c.path) << c.input;
}

// A file that is not a finished sidecar is refused with a reason, never half read.
TEST(Sidecar, DamagedOrForeignFilesAreRefused) {
  TempDir dir;
  const std::string good =
      "<?xml version=\"1.0\"?><ffprobe:ffprobe xmlns:ffprobe=\"x\"><frames>"
      "<frame media_type=\"video\" key_frame=\"0\" best_effort_timestamp_time=\"0.04\">"
      "<tag key=\"lineview.frame\" value=\"1\"/><tag key=\"lineview.snr.r\" value=\"41.5\"/></frame>"
      "</frames><format filename=\"a &amp; b.mkv\"><tag key=\"lineview.setting.ColorMode\" value=\"1\"/>"
      "<tag key=\"lineview.worst.frame\" value=\"1\"/><tag key=\"lineview.worst.time\" value=\"0.04\"/>"
      "<tag key=\"lineview.worst.y\" value=\"1 2\"/><tag key=\"lineview.worst.u\" value=\"3\"/>"
      "</format></ffprobe:ffprobe>";
  const struct {
    std::string name, text;
    bool gzip, ok;
    std::string error;
  } cases[] = {
      {"whole", good, true, true, ""},
      {"plain XML, not gzipped", good, false, true, ""},
      {"cut before its first whole frame", good.substr(0, good.find("</frame>")), true, false, "cut short before its first frame"},
      {"not ours", "<html><body>hello</body></html>", true, false, "not a lineview sidecar"},
      {"a value that is no number", std::regex_replace(good, std::regex("41.5"), "lots"), true, false, "value 'lots'"},
      {"empty", "", true, false, "not a lineview sidecar"},
  };
  for (const auto& c : cases) {
    const std::string path = dir / "s.xml.gz";
    if (c.gzip) {
      gzFile f = gzopen(path.c_str(), "wb");
      gzwrite(f, c.text.data(), static_cast<unsigned>(c.text.size()));
      gzclose(f);
    } else {
      std::ofstream(path, std::ios::binary) << c.text;
    }
    std::vector<Timeline> lines;
    std::string error;
    EXPECT_EQ(ReadSidecar(path, &lines, &error), c.ok) << c.name << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    if (!c.ok) continue;
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0].input, "a & b.mkv");
    EXPECT_STREQ(lines[0].channelNames[0], "Y");
    ASSERT_EQ(lines[0].frames.size(), 1u);
    EXPECT_EQ(lines[0].frames[0].index, 1);
    EXPECT_DOUBLE_EQ(lines[0].frames[0].snr[0], 41.5);
    EXPECT_TRUE(lines[0].worst.Empty()) << "channels of unequal length are not a line";
  }
}

}  // namespace

namespace {

// The report's pictures of the worst and the typical frame, drawn from a sidecar's samples, are
// the pictures --png makes of those frames.
TEST_F(QcArchive, KeptFramesDrawAsTheirPngPictures) {
  TempDir out;
  const RunResult r = Lineview(Quote(clip_) + " --no-progress --frames 60 --page all --sidecar=" + Quote(out.Path()) +
                               " --png " + Quote(out.Path()) + " --every 1 >/dev/null");
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::vector<Timeline> lines;
  std::string error;
  ASSERT_TRUE(ReadSidecar(out / "noisy.mkv.lineview.xml.gz", &lines, &error)) << error;
  ASSERT_EQ(lines.size(), 1u);
  const Timeline& t = lines[0];
  EXPECT_GE(t.worst.frame, 50) << "the noise starts at frame 50";
  EXPECT_LT(t.typical.frame, 50) << "most frames are clean";
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  for (const LineSamples* kept : {&t.worst, &t.typical}) {
    for (int page = 0; page < 3; ++page) {
      char name[64];
      std::snprintf(name, sizeof name, "lineview-%s-%06lld.png", page == 0 ? "scope" : page == 1 ? "spectrum" : "levels",
                    static_cast<long long>(kept->frame));
      Picture png;
      ASSERT_TRUE(ReadPng(out / name, &png)) << name;
      const Picture drawn = SamplesPage(t, *kept, page, text.get());
      EXPECT_TRUE(drawn.pixels == png.pixels) << name;
    }
  }
}

}  // namespace
