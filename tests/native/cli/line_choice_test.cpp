// Which rows a run analyses: lists of lines, fields of interlaced frames and the standards' line
// numbers, checked on clips whose rows each carry their own noise level, so that a row's
// numbers name it.
#include "cli/common/line_choice.h"

#include <gtest/gtest.h>

#include <random>

#include "cli/common/exit_codes.h"
#include "cli_test_util.h"

namespace {

TEST(LineChoice, ListsAndTheStandardsNumbering) {
  std::vector<int> n;
  std::string error;
  ASSERT_TRUE(ParseLineList("23,100-103,7", &n, &error)) << error;
  EXPECT_EQ(n, (std::vector<int>{23, 100, 101, 102, 103, 7}));
  for (const char* bad : {"", "5,", "-3", "9-2", "a", "1-2-3", "99999999999"}) {
    EXPECT_FALSE(ParseLineList(bad, &n, &error)) << bad;
  }
  // Each standard's first and last active lines, per field (ITU-R BT.656 numbering).
  const struct {
    int height, row, line;
  } rows[] = {{576, 0, 23},    {576, 1, 336}, {576, 574, 310}, {576, 575, 623}, {486, 0, 283}, {486, 1, 21},
              {486, 485, 263}, {480, 0, 285}, {480, 1, 23},    {480, 479, 262}, {720, 0, 0}};
  for (const auto& r : rows) EXPECT_EQ(TvLineOfRow(r.row, r.height), r.line) << r.height << " " << r.row;

  const struct {
    LineRequest request;
    int height;
    std::string error;
  } refused[] = {
      {{{5}, true}, 576, "--tv-line 5: a frame of 576 rows (625-line) holds lines 23-310 and 336-623"},
      {{{264}, true}, 486, "holds lines 21-263 and 283-525"},
      {{{30}, true}, 288, "--tv-line needs frames of 576 rows"},
      {{{288}, false, FieldChoice::Bottom}, 576, "the bottom field of frames of 576 rows has lines 0 to 287"},
      {{{576}}, 576, "--line 576: the frames have 576 lines, 0 to 575"},
  };
  for (const auto& c : refused) {
    std::vector<AnalysedLine> lines;
    std::string warning;
    EXPECT_FALSE(ResolveLines(c.request, c.height, FieldOrder::Unknown, &lines, &error, &warning));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

// 720x576 frames of flat grey whose rows carry noise of their own strength: each row's SNR
// differs from every other's.
class Fields : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    std::mt19937 rng(7);
    std::string frames;
    for (int f = 0; f < 3; ++f) {
      for (int row = 0; row < 576; ++row) {
        std::normal_distribution<double> noise(0.0, 1.0 + row * 0.05);
        for (int x = 0; x < 720 * 2; ++x) {
          frames += static_cast<char>(std::clamp<long>(std::lround(128 + noise(rng)), 16, 235));
        }
      }
    }
    std::ofstream(*dir_ / "rows.yuv", std::ios::binary) << frames;
    for (const char* order : {"tt", "bb"}) {
      Ffmpeg("-f rawvideo -s 720x576 -pix_fmt yuyv422 -i " + Quote(*dir_ / "rows.yuv") +
             " -c:v ffv1 -pix_fmt yuv422p -field_order " + order + " " + Quote(*dir_ / (std::string(order) + ".mkv")));
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
  }
  // The CSV's numbers (the columns after the line's own), frame by frame.
  static std::vector<std::vector<std::string>> Values(const std::string& args, size_t skip, std::string* err = nullptr) {
    const RunResult r = Lineview(args);
    if (err) *err = r.err;
    std::vector<std::vector<std::string>> values;
    for (const auto& row : CsvRows(r.out)) values.emplace_back(row.begin() + std::min(skip, row.size()), row.end());
    return values;
  }
  static TempDir* dir_;
};
TempDir* Fields::dir_ = nullptr;

TEST_F(Fields, AFieldOrAStandardLinePicksItsRow) {
  const std::string tt = Quote(*dir_ / "tt.mkv"), bb = Quote(*dir_ / "bb.mkv");
  const std::string raw = "-f rawvideo -s 720x576 -pix_fmt yuyv422 " + Quote(*dir_ / "rows.yuv");
  const struct {
    std::string args;
    int row;
    size_t columns;  // line, field, tv_line
  } cases[] = {
      {"--field bottom --line 50 " + tt, 101, 3},
      {"--field top --line 50 " + bb, 100, 3},
      {"--field first --line 50 " + tt, 100, 3},
      {"--field second --line 50 " + tt, 101, 3},
      {"--field first --line 50 " + bb, 101, 3},
      {"--field first --field-order tff --line 50 " + bb, 100, 3},
      {"--field second --line 50 " + raw, 101, 3},  // no order known: top first
      {"--tv-line 23 " + tt, 0, 3},
      {"--tv-line 336 " + tt, 1, 3},
      {"--tv-line 310 " + bb, 574, 3},
      {"--tv-line 400 " + bb, 129, 3},
  };
  for (const auto& c : cases) {
    std::string err;
    const auto picked = Values(c.args, 2 + c.columns, &err);
    const auto expected = Values("--line " + std::to_string(c.row) + " " + tt, 2);
    ASSERT_EQ(picked.size(), 3u) << c.args << err;
    EXPECT_EQ(picked, expected) << c.args;
    EXPECT_EQ(err.find("does not say which field") != std::string::npos, c.args.find("rows.yuv") != std::string::npos)
        << c.args << err;
  }
  // Rows nearby differ, so the comparisons above tell rows apart.
  EXPECT_NE(Values("--line 100 " + tt, 2), Values("--line 101 " + tt, 2));
}

// Several lines in one pass: one row per frame per line, each as its own run gives it, and
// pictures named after their line.
TEST_F(Fields, SeveralLinesGiveWhatEachGivesAlone) {
  const std::string tt = Quote(*dir_ / "tt.mkv");
  const RunResult all = Lineview("--line 100,200-202 --png " + Quote(*dir_ / "png") + " " + tt);
  ASSERT_EQ(all.status, kExitOk) << all.err;
  std::string header;
  const auto rows = CsvRows(all.out, &header);
  EXPECT_EQ(header, "frame,time,line,tv_line,R,G,B,R_frame,G_frame,B_frame");
  ASSERT_EQ(rows.size(), 12u);
  const int lines[] = {100, 200, 201, 202};
  for (int i = 0; i < 4; ++i) {
    const auto alone = Values("--line " + std::to_string(lines[i]) + " " + tt, 2);
    for (size_t f = 0; f < 3; ++f) {
      const auto& row = rows[f * 4 + i];
      EXPECT_EQ(row[2], std::to_string(lines[i]));
      EXPECT_EQ(std::vector<std::string>(row.begin() + 4, row.end()), alone[f]) << lines[i] << " frame " << f;
    }
    EXPECT_TRUE(std::filesystem::exists(*dir_ / ("png/lineview-line" + std::to_string(lines[i]) + "-scope.png")));
  }
  // One line and no field: the CSV as it always was.
  EXPECT_EQ(Lineview("--line 100 " + tt).out.substr(0, 41), "frame,time,R,G,B,R_frame,G_frame,B_frame\n");
}

}  // namespace
