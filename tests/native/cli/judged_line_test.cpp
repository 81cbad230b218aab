// What a judged run says about the line it measured: both fields of interlaced input, a line
// that carries picture instead of noise, and the plot over time that explains itself.
#include <gtest/gtest.h>

#include "cli/common/exit_codes.h"
#include "cli/output/time_plot.h"
#include "cli_test_util.h"
#include "report_fixture.h"

namespace {

// Small clips: 160x120, five frames, 4:2:2 FFV1 as an archive keeps them.
class JudgedLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    // Grey with noise in the rows of one field only: odd rows (bottom field) or even (top).
    const std::string oneField = " -vf \"geq=lum='if(eq(mod(Y,2),%d),128+80*(random(0)-0.5),128)':cb=128:cr=128\"";
    auto field = [&](int parity) {
      std::string f = oneField;
      f.replace(f.find("%d"), 2, std::to_string(parity));
      return f;
    };
    const std::string grey = "-f lavfi -i color=gray:s=160x120:r=25:d=0.2";
    const std::string out = " -c:v ffv1 -pix_fmt yuv422p ";
    Ffmpeg(grey + field(1) + out + "-field_order tt " + Quote(*dir_ / "bottom.mkv"));
    Ffmpeg(grey + field(0) + out + "-field_order bb " + Quote(*dir_ / "top.mkv"));
    Ffmpeg(grey + field(1) + out + "-field_order progressive " + Quote(*dir_ / "progressive.mkv"));
    // A moving picture with a little noise; a still one; flat grey with strong noise, once
    // with its chroma through 4:1:1 (runs of four equal chroma samples along the line).
    const std::string noise = ",noise=alls=12:allf=t";
    Ffmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=0.2 -vf \"format=yuv422p" + noise + "\"" + out + Quote(*dir_ / "moving.mkv"));
    Ffmpeg("-f lavfi -i smptebars=s=160x120:r=25:d=0.2" + out + Quote(*dir_ / "bars.mkv"));
    Ffmpeg(grey + " -vf \"format=yuv422p" + noise + "\"" + out + Quote(*dir_ / "flat.mkv"));
    Ffmpeg(grey + " -vf \"format=yuv411p,noise=alls=30:allf=t\" -c:v ffv1 -pix_fmt yuv411p " + Quote(*dir_ / "flat411.mkv"));
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { SKIP_WITHOUT_FFMPEG(); }
  static std::string Clip(const std::string& name) { return Quote(*dir_ / name); }
  static TempDir* dir_;
};
TempDir* JudgedLine::dir_ = nullptr;

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// Noise in one field: the default row alone would miss it when it lies in the other field.
TEST_F(JudgedLine, AThresholdOnInterlacedInputJudgesBothFields) {
  const struct {
    std::string args;
    int status;
    std::string failed;  // "failed_field" as written; "" where the input is judged on one row
  } cases[] = {
      {"bottom.mkv --min-snr 30", kExitFlagged, "\"bottom\""},
      {"top.mkv --min-snr 30", kExitFlagged, "\"top\""},
      {"bottom.mkv --min-snr 10", kExitOk, "null"},
      {"progressive.mkv --min-snr 30", kExitOk, ""},                     // one field: one row
      {"progressive.mkv --min-snr 30 --field-order tff", kExitFlagged, "\"bottom\""},
      {"bottom.mkv --min-snr 30 --line 100", kExitOk, ""},               // a line asked for: that line
      {"bottom.mkv", kExitOk, ""},                                        // no threshold: as before
  };
  for (const auto& c : cases) {
    const size_t space = c.args.find(' ');
    const std::string clip = Clip(c.args.substr(0, space)), rest = space == std::string::npos ? "" : c.args.substr(space);
    const RunResult r = Lineview(clip + rest + " --json");
    SCOPED_TRACE(c.args + "\n" + r.out + r.err);
    EXPECT_EQ(r.status, c.status);
    // One JSON document per input, its figures those of the field that decides the verdict.
    EXPECT_EQ(Count(r.out, "\n{"), 0u);
    EXPECT_EQ(r.out.find("\"failed_field\": " + c.failed) != std::string::npos, !c.failed.empty());
    if (c.failed.empty()) continue;
    EXPECT_EQ(Count(r.out, "\"field\":"), 3u);  // the input's, and each field's own
    EXPECT_NE(r.out.find("{\"input\":"), std::string::npos);
    const bool bottom = c.failed == "\"bottom\"";
    if (c.status == kExitFlagged) {
      EXPECT_NE(r.out.find(std::string("\"field\": \"") + (bottom ? "bottom" : "top") + "\",\n"), std::string::npos);
      EXPECT_NE(r.err.find(std::string(bottom ? "(bottom field): flagged" : "(top field): flagged")), std::string::npos);
      EXPECT_EQ(r.err.find(std::string(bottom ? "(top field): flagged" : "(bottom field): flagged")), std::string::npos);
    }
  }
  // The sidecar of such a run gives it back as one summary too.
  TempDir side;
  ASSERT_EQ(Lineview(Clip("bottom.mkv") + " --min-snr 30 --sidecar=" + Quote(side.Path())).status, kExitFlagged);
  const RunResult from = Lineview("--min-snr 30 --json --from " + Quote(side.Path()) + "/*.gz");
  EXPECT_EQ(from.status, kExitFlagged) << from.err;
  EXPECT_EQ(Count(from.out, "\n"), 1u) << from.out;
  EXPECT_NE(from.out.find("\"failed_field\": \"bottom\""), std::string::npos) << from.out;
}

// The measuring interval of a picture's line holds picture; a flat line's holds noise only,
// however strong, and however the decoder smoothed it.
TEST_F(JudgedLine, ALineWithPictureIsNamed) {
  const struct {
    std::string clip, args;
    bool quiet;
  } cases[] = {
      {"moving.mkv", "--line 60", false},
      {"moving.mkv", "--line 100 --color yuv", false},
      {"moving.mkv", "--line 10", false},
      {"bars.mkv", "--line 20", false},
      {"flat.mkv", "--line 60", true},
      {"flat411.mkv", "--line 60 --color yuv", true},
      {"moving.mkv", "--line 10", false},
      {"bottom.mkv", "", true},
  };
  for (const auto& c : cases) {
    const RunResult r = Lineview(Clip(c.clip) + " " + c.args + " --json");
    SCOPED_TRACE(c.clip + " " + c.args + "\n" + r.out + r.err);
    EXPECT_EQ(r.status, kExitOk);  // said, not counted
    EXPECT_NE(r.out.find(std::string("\"quiet_line\": ") + (c.quiet ? "true" : "false")), std::string::npos);
    EXPECT_EQ(Count(r.err, "is not a quiet line"), c.quiet ? 0u : 1u);
    if (!c.quiet) {
      EXPECT_NE(r.err.find("a black or grey line in the picture's border"), std::string::npos);
    }
  }
  // The sidecar keeps it for the report and the summaries made from it.
  TempDir side;
  ASSERT_EQ(Lineview(Clip("moving.mkv") + " --line 60 --sidecar=" + Quote(side.Path())).status, kExitOk);
  const RunResult from = Lineview("--json --from " + Quote(side.Path()) + "/*.gz");
  EXPECT_NE(from.out.find("\"quiet_line\": false"), std::string::npos) << from.out << from.err;
}

// Records what the plot writes, and where.
class RecordingPainter : public TextPainter {
 public:
  struct Text {
    int x, y;
    std::string text;
    uint32_t rgb;
  };
  int Width(const std::string& text) override { return 7 * static_cast<int>(text.size()); }
  int LineHeight() const override { return 14; }
  void Draw(Picture&, int x, int y, const std::string& text, uint32_t rgb) override { texts.push_back({x, y, text, rgb}); }
  const Text* Find(const std::string& text) const {
    for (const Text& t : texts) {
      if (t.text == text) return &t;
    }
    return nullptr;
  }
  std::vector<Text> texts;
};

TEST(PlotPictureOverTime, SaysWhatItShows) {
  const struct {
    double minSnr;
    std::string verdict, minimum;
  } cases[] = {
      {30.0, "verdict flag: 1 span below the minimum", "minimum 30 dB"},
      {15.0, "verdict pass", "minimum 15 dB"},
      {5.0, "verdict pass", "minimum 5 dB"},  // below the axis: the value as given
      {NAN, "verdict pass", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verdict + " " + c.minimum);
    RecordingPainter text;
    ReportOptions o;
    o.limits.minSnr = c.minSnr;
    const Picture p = PlotPicture({SyntheticTimeline("tape.mkv", 1000, 25.0, 10.0, 12.0)}, o, &text);
    const auto* title = text.Find("tape.mkv");
    const auto* unit = text.Find("dB");
    const auto* verdict = text.Find(c.verdict);
    ASSERT_TRUE(title && unit && verdict);
    // The title row above the plot: the unit over the dB labels, the verdict at the right.
    for (const auto* t : {title, unit, verdict}) EXPECT_LT(t->y + 14, kPlotPictureTop + 2);
    EXPECT_LT(unit->x + 14, kPlotPictureLeft);
    EXPECT_GT(verdict->x, title->x + 7 * 8);
    EXPECT_LE(verdict->x + text.Width(c.verdict), p.width);
    EXPECT_NE(verdict->rgb, title->rgb);
    // The legend, under the time labels, within the block.
    for (const char* name : {"R each frame", "R 50-frame mean", "B 50-frame mean"}) {
      const auto* item = text.Find(name);
      ASSERT_TRUE(item) << name;
      EXPECT_GT(item->y, kPlotPictureTop + 240 + 14);
      EXPECT_LE(item->y + 14, kPlotPictureBlock);
      EXPECT_LE(item->x + text.Width(name), p.width);
    }
    EXPECT_EQ(text.Find(c.minimum) != nullptr, !c.minimum.empty());
  }
}

}  // namespace
