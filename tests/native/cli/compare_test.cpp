// lineview --compare on two captures made from one moving source: B starts at A's frame 7,
// lacks A's frame 107, shows one frame twice at B 200 and carries more noise from 4 s to 6 s.
// The comparison must find exactly that, and its delta must be the inputs' own values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <regex>

#include "cli/output/comparison_report.h"
#include "cli_test_util.h"
#include "report_fixture.h"

namespace {

class Compare : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    // Moving picture above, a grey band below for the line measured (row 80).
    const std::string source = "-f lavfi -i \"testsrc2=s=128x96:r=25,drawbox=x=0:y=56:w=128:h=40:color=gray:t=fill\" ";
    ok_ = Ffmpeg(source + "-frames:v 240 -c:v ffv1 " + Quote(*dir_ / "src.mkv")) &&
          Ffmpeg("-i " + Quote(*dir_ / "src.mkv") + " -vf noise=alls=8:allf=t -c:v ffv1 " + Quote(*dir_ / "a.mkv")) &&
          Ffmpeg("-i " + Quote(*dir_ / "src.mkv") +
                 " -vf \"select='gte(n\\,7)*not(eq(n\\,107))',setpts=N/25/TB,loop=loop=1:size=1:start=200,"
                 "setpts=N/25/TB,noise=alls=8:allf=t,noise=alls=30:allf=t:enable='between(t\\,4\\,6)'\" -c:v ffv1 " +
                 Quote(*dir_ / "b.mkv")) &&
          Ffmpeg("-f lavfi -i \"mandelbrot=s=128x96:r=25\" -frames:v 60 -c:v ffv1 " + Quote(*dir_ / "other.mkv")) &&
          Ffmpeg("-f lavfi -i \"color=gray:s=128x96:r=25,noise=alls=5:allf=t\" -frames:v 30 -c:v ffv1 " +
                 Quote(*dir_ / "still.mkv")) &&
          Ffmpeg("-f lavfi -i testsrc2=s=128x72:r=25 -frames:v 30 -c:v ffv1 " + Quote(*dir_ / "low.mkv"));
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    ASSERT_TRUE(ok_);
  }
  static std::string Path(const std::string& name) { return Quote(*dir_ / name); }

  // A plain run's own per-frame values of one channel, by frame number.
  static std::map<int, double> OwnValues(const std::string& input, const std::string& channel) {
    std::string header;
    const auto rows = CsvRows(Lineview(Path(input) + " --line 80 --no-progress").out, &header);
    std::vector<std::string> names;
    std::istringstream h(header);
    for (std::string n; std::getline(h, n, ',');) names.push_back(n);
    const size_t column = std::find(names.begin(), names.end(), channel + "_frame") - names.begin();
    std::map<int, double> values;
    for (const auto& r : rows) {
      if (column < r.size()) values[std::stoi(r[0])] = std::stod(r[column]);
    }
    return values;
  }

  static TempDir* dir_;
  static bool ok_;
};
TempDir* Compare::dir_ = nullptr;
bool Compare::ok_ = false;

// A's frame that B's frame k shows, as the clip was made.
int AFrameOf(int k) { return k < 100 ? k + 7 : k <= 200 ? k + 8 : k + 7; }

TEST_F(Compare, FindsOffsetGapsAndTheSegmentWhereBIsWorse) {
  const RunResult r = Lineview("--compare " + Path("a.mkv") + " " + Path("b.mkv") + " --line 80 --json --no-progress");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"offset_frames\": 7,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"gaps\": [{\"input\": \"B\", \"kind\": \"missing\", \"a_frame\": 107, \"frames\": 1}, "
                       "{\"input\": \"B\", \"kind\": \"repeated\", \"b_frame\": 200, \"frames\": 1}],"),
            std::string::npos)
      << r.out;
  const std::regex segment(
      "\\{\"start\": [0-9.]+, \"end\": [0-9.]+, \"first_frame\": ([0-9]+), \"last_frame\": ([0-9]+), "
      "\"mean_delta\": (-?[0-9.]+), \"worst_delta\": -?[0-9.]+, \"channel\": \"(\\w+)\", \"worse\": \"(\\w)\"\\}");
  std::vector<std::smatch> found;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), segment); it != std::sregex_iterator(); ++it) {
    found.push_back(*it);
  }
  ASSERT_EQ(found.size(), 1u) << r.out;
  const std::smatch& s = found[0];
  EXPECT_EQ(s[5].str(), "B");
  const int first = std::stoi(s[1].str()), last = std::stoi(s[2].str());
  // Where the noise was added: B's 4 to 6 s, A's frames 108 to 158.
  EXPECT_NEAR(first, 108, 5);
  EXPECT_NEAR(last, 158, 5);
  // The same span from the two inputs' own runs, paired as the clip was made.
  const std::map<int, double> a = OwnValues("a.mkv", s[4].str()), b = OwnValues("b.mkv", s[4].str());
  double sum = 0;
  int n = 0;
  for (const auto& [k, value] : b) {
    const int at = AFrameOf(k);
    if (at >= first && at <= last && a.count(at)) sum += value - a.at(at), ++n;
  }
  ASSERT_GT(n, 0);
  EXPECT_NEAR(std::stod(s[3].str()), sum / n, 0.2);
}

TEST_F(Compare, SidecarsGiveTheSameComparison) {
  const std::string direct =
      Lineview("--compare " + Path("a.mkv") + " " + Path("b.mkv") + " --line 80 --json --no-progress").out;
  ASSERT_EQ(Lineview(Path("a.mkv") + " " + Path("b.mkv") + " --line 80 --json --no-progress --sidecar=" +
                     Path("sidecars")).status, 0);
  const RunResult r = Lineview("--compare --from " + Path("sidecars/a.mkv.lineview.xml.gz") + " " +
                               Path("sidecars/b.mkv.lineview.xml.gz") + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, direct);
  EXPECT_NE(r.out.find("\"offset_frames\": 7,"), std::string::npos);
}

TEST_F(Compare, ACaptureAgainstItselfIsTheSame) {
  const RunResult r = Lineview("--compare " + Path("a.mkv") + " " + Path("a.mkv") + " --line 80 --json --no-progress");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* expected : {"\"offset_frames\": 0,", "\"gaps\": [],", "\"segments\": [],", "\"aligned_frames\": 240,"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("\"mean_delta\": 0.0000}") != std::string::npos, true) << r.out;
  EXPECT_EQ(r.out.find("\"mean_delta\": -") == std::string::npos && r.out.find("\"mean_delta\": 0.0001") == std::string::npos,
            true);
  // The CSV: one row per pair, every delta 0.
  const RunResult csv = Lineview("--compare " + Path("a.mkv") + " " + Path("a.mkv") + " --line 80 --no-progress");
  std::string header;
  const auto rows = CsvRows(csv.out, &header);
  EXPECT_EQ(header, "a_frame,b_frame,time,R_a,R_b,R_delta,G_a,G_b,G_delta,B_a,B_b,B_delta");
  ASSERT_EQ(rows.size(), 240u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 12u);
    EXPECT_EQ(row[0], row[1]);
    for (size_t c : {5u, 8u, 11u}) EXPECT_EQ(std::stod(row[c]), 0.0);
  }
}

TEST_F(Compare, RefusesWhatItCannotAlign) {
  const struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {Path("a.mkv"), 2, "--compare takes two inputs, A and B (1 given)"},
      {Path("a.mkv") + " " + Path("b.mkv") + " " + Path("a.mkv"), 2, "(3 given)"},
      {Path("a.mkv") + " " + Path("low.mkv"), 2, "96 and 72 rows high"},
      {Path("a.mkv") + " " + Path("other.mkv"), 3, "do not overlap: the best correlation"},
      {Path("still.mkv") + " " + Path("still.mkv"), 3, "the picture does not move"},
      {Path("still.mkv") + " " + Path("still.mkv") + " --offset 0 --json", 0, "neither is better"},
      {Path("a.mkv") + " " + Path("b.mkv") + " --plot x.png", 2, "--compare does not take --plot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const RunResult r = Lineview("--compare " + c.args + " --line 20 --no-progress");
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// The page shows the line at the worst delta where the runs kept that frame's line, and says
// plainly which frame it shows where they did not.
TEST(CompareReport, ShowsTheWorstDeltasFramesOrSaysWhichItShows) {
  const Timeline a = SyntheticTimeline("a.mkv", 100, 25), b0 = SyntheticTimeline("b.mkv", 100, 25, 2.0, 3.0);
  Alignment al;
  al.status = AlignStatus::Aligned;
  for (int64_t i = 0; i < 100; ++i) al.pairs.push_back({i, i});
  const Comparison c = ::Compare(a, b0, al, 1.0, 0.5);
  ASSERT_EQ(c.segments.size(), 1u);
  int64_t worst = 0;
  double far = 0;
  for (const AlignedPair& p : al.pairs) {
    for (int ch : c.channels) {
      if (std::fabs(PairDelta(a, b0, p, ch)) > far) far = std::fabs(PairDelta(a, b0, p, ch)), worst = p.a;
    }
  }
  const struct {
    bool kept;
    const char* caption;
  } cases[] = {{true, ", frame %lld (at the worst delta)"}, {false, "its lowest-SNR frame, not frame %lld"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.caption);
    Timeline ta = a, tb = b0;
    for (Timeline* t : {&ta, &tb}) {
      if (k.kept) t->worst.frame = worst, t->worst.seconds = worst / 25.0;
      if (!k.kept && t->worst.frame == worst) t->worst.frame = worst + 1;
      if (!k.kept && t->typical.frame == worst) t->typical.frame = worst + 1;
    }
    const std::string page = ComparisonReportHtml(ta, tb, al, c, ReportOptions{}, nullptr);
    char expected[96];
    std::snprintf(expected, sizeof expected, k.caption, static_cast<long long>(worst));
    size_t count = 0;
    for (size_t at = page.find(expected); at != std::string::npos; at = page.find(expected, at + 1)) ++count;
    EXPECT_EQ(count, 4u) << expected;  // each capture's figure: its alt text and its caption
    EXPECT_EQ(page.find("http"), std::string::npos);
    EXPECT_NE(page.find("<tr data-segment=\"0\">"), std::string::npos);
  }
}

}  // namespace
