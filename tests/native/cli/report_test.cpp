// The report page and the plot picture over synthetic timelines.
#include "cli/output/report.h"

#include <gtest/gtest.h>

#include <algorithm>


#include "cli/output/time_plot.h"
#include "cli_test_util.h"
#include "report_fixture.h"

namespace {

ReportOptions Limits(double minSnr) {
  ReportOptions o;
  o.limits.minSnr = minSnr;
  return o;
}

// The data-value of the cell with this data-key in the row of `input`.
// Plain searches: std::regex recurses once per character and overflows the stack on a page's paths.
std::string Cell(const std::string& html, const std::string& input, const std::string& key) {
  const std::string head = "data-input=\"" + input + "\" data-key=\"" + key + "\" data-value=\"";
  const size_t at = html.find(head);
  if (at == std::string::npos) return "(missing)";
  const size_t from = at + head.size();
  return html.substr(from, html.find('"', from) - from);
}

// Whether an SVG coordinate or path holds a value a browser refuses.
bool NonNumberInSvg(const std::string& html) {
  for (const std::string name : {" d=\"", " x=\"", " y=\"", " width=\""}) {
    for (size_t at = html.find(name); at != std::string::npos; at = html.find(name, at + 1)) {
      const size_t from = at + name.size();
      const std::string value = html.substr(from, html.find('"', from) - from);
      if (value.find("nan") != std::string::npos || value.find("inf") != std::string::npos) return true;
    }
  }
  return false;
}

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

TEST(Report, IsSelfContainedAndItsSummaryMatchesTheTimeline) {
  // 40 s at 25 fps, below 30 dB from 10 s to 12 s and from 30 s to 31 s.
  Timeline t = SyntheticTimeline("a<b&\"c\".mkv", 1000, 25.0, 10.0, 12.0);
  for (TimelineFrame& f : t.frames) {
    if (f.seconds >= 30.0 && f.seconds <= 31.0) f.snr[1] = 15.0;
  }
  const std::string html = ReportHtml({t}, Limits(30.0), nullptr);
  EXPECT_EQ(html, ReportHtml({t}, Limits(30.0), nullptr));

  EXPECT_EQ(html.find("http"), std::string::npos);
  EXPECT_EQ(html.find("url("), std::string::npos);
  EXPECT_EQ(Count(html, "src=\""), Count(html, "src=\"data:image/png;base64,"));
  EXPECT_EQ(Count(html, "src=\""), 4u) << "two pages of the worst frame and two of the typical one";
  EXPECT_EQ(html.find("a<b"), std::string::npos) << "the input name is escaped";

  const std::string input = "a&lt;b&amp;&quot;c&quot;.mkv";
  EXPECT_EQ(Cell(html, input, "frames"), "1000");
  for (int c = 0; c < 3; ++c) {
    double sum = 0, low = INFINITY, high = -INFINITY;
    for (const TimelineFrame& f : t.frames) sum += f.snr[c], low = std::min(low, f.snr[c]), high = std::max(high, f.snr[c]);
    const std::string name = t.channelNames[c];
    EXPECT_NEAR(std::stod(Cell(html, input, name + ".mean")), sum / t.frames.size(), 1e-9) << name;
    EXPECT_EQ(std::stod(Cell(html, input, name + ".min")), low) << name;
    EXPECT_EQ(std::stod(Cell(html, input, name + ".max")), high) << name;
  }
  EXPECT_EQ(Cell(html, input, "verdict"), "flag");
  EXPECT_EQ(Cell(html, input, "segments"), "2");
  // Shaded where the frames were below, with the times in the tooltip.
  EXPECT_EQ(Count(html, "<rect class=\"flag\""), 2u);
  EXPECT_NE(html.find("<title>flagged 00:00:10.00–00:00:12.00, lowest "), std::string::npos);
  EXPECT_NE(html.find("<title>flagged 00:00:30.00–00:00:31.00, lowest 15.00 dB (G)</title>"), std::string::npos);
}

TEST(Report, ThreeHoursStayWithinTwoMegabytesAnHour) {
  const Timeline t = SyntheticTimeline("long.mkv", 3 * 3600 * 25, 25.0, 3600.0, 3700.0);
  std::string error;
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  const std::string html = ReportHtml({t}, Limits(30.0), text.get());
  std::printf("a report of 3 hours at 25 fps: %zu bytes\n", html.size());
  EXPECT_LT(html.size(), 6u << 20);
  EXPECT_EQ(Cell(html, "long.mkv", "frames"), "270000");
  EXPECT_EQ(Count(html, "<rect class=\"flag\""), 1u);
}

TEST(Report, BadTimelinesGiveAValidPage) {
  Timeline empty;
  Timeline odd = SyntheticTimeline("odd", 50, 25.0);
  odd.frames[3].snr[0] = INFINITY;
  odd.frames[4].snr[1] = -INFINITY;
  odd.frames[5].snr[2] = NAN;
  odd.frames[6].seconds = NAN;
  odd.frames[7].seconds = 1e300;
  odd.frames[8].mean[0] = NAN;
  Timeline noTime = SyntheticTimeline("no time", 3, 25.0);
  for (TimelineFrame& f : noTime.frames) f.seconds = -INFINITY;
  const struct {
    const char* what;
    double low, high, minSnr;
  } cases[] = {{"the usual range", 10, 70, 30}, {"an upside-down range", 70, 10, INFINITY},
               {"no range", NAN, INFINITY, -INFINITY}, {"a vast range", -1e308, 1e308, 1e300},
               {"a vanishing range", 1e-300, 2e-300, 0}};
  for (const auto& c : cases) {
    ReportOptions o = Limits(c.minSnr);
    o.snrLow = c.low, o.snrHigh = c.high;
    const std::string html = ReportHtml({empty, odd, noTime}, o, nullptr);
    EXPECT_EQ(html.substr(html.size() - 8), "</html>\n") << c.what;
    EXPECT_EQ(Count(html, "<svg"), 3u) << c.what;
    EXPECT_EQ(Count(html, "<section"), 3u) << c.what;
    EXPECT_EQ(Cell(html, "", "frames"), "0") << c.what;
    EXPECT_EQ(Cell(html, "", "R.mean"), "nan") << c.what;
    EXPECT_EQ(Cell(html, "odd", "R.max"), "inf") << c.what;
    EXPECT_EQ(Cell(html, "odd", "G.min"), "-inf") << c.what;
    EXPECT_EQ(html.find(">nan<"), std::string::npos) << c.what;
    EXPECT_FALSE(NonNumberInSvg(html)) << c.what << ": SVG a browser refuses";
  }
  EXPECT_EQ(PlotPicture({}, ReportOptions{}, nullptr).height, kPlotPictureBlock);
}

TEST(PlotPictureOverTime, ShadesTheFlaggedColumnsOfEachTimeline) {
  // 100 s each; the second one below the minimum from 20 s to 30 s.
  const std::vector<Timeline> timelines = {SyntheticTimeline("clean", 2501, 25.0),
                                           SyntheticTimeline("dip", 2501, 25.0, 20.0, 30.0)};
  const Picture p = PlotPicture(timelines, Limits(30.0), nullptr);
  ASSERT_EQ(p.width, kPlotPictureLeft + kPlotPictureColumns + 16);
  ASSERT_EQ(p.height, 2 * kPlotPictureBlock);
  auto shaded = [&](int block, int column) {
    const int y = block * kPlotPictureBlock + kPlotPictureTop + 3;  // above every trace
    return p.pixels[size_t(y) * p.width + kPlotPictureLeft + column] == kFlagShade;
  };
  for (int column : {150, 250, 350, 900}) EXPECT_FALSE(shaded(0, column)) << column;
  for (int column : {201, 250, 299}) EXPECT_TRUE(shaded(1, column)) << column;
  for (int column : {150, 198, 302, 900}) EXPECT_FALSE(shaded(1, column)) << column;
}

TEST(PlotPictureOverTime, EncodesAsThePngWrittenToAFile) {
  const Picture p = PlotPicture({SyntheticTimeline("x", 100, 25.0)}, ReportOptions{}, nullptr);
  TempDir dir;
  std::string bytes, error;
  ASSERT_TRUE(EncodePng(p, &bytes));
  ASSERT_TRUE(WritePng(p, dir / "p.png", &error)) << error;
  EXPECT_EQ(bytes, ReadText(dir / "p.png"));
  Picture back;
  ASSERT_TRUE(ReadPng(dir / "p.png", &back));
  EXPECT_EQ(back.pixels, p.pixels);
  EXPECT_FALSE(EncodePng(Picture{}, &bytes));
}

}  // namespace

namespace {

// Where each of these appears in the page, in order: a row's, a section's, a listed item's.
std::vector<std::string> InOrder(const std::string& html, const std::string& before, const std::vector<std::string>& inputs) {
  std::vector<std::pair<size_t, std::string>> found;
  for (const std::string& input : inputs) {
    const size_t at = html.find(before + input);
    if (at != std::string::npos) found.push_back({at, input});
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (const auto& f : found) names.push_back(f.second);
  return names;
}

TEST(Report, ACollectionPutsWhatDidNotPassFirstAndFoldsWhatPassed) {
  // Input order: pass, flag (lowest 20 dB), failed, incomplete, flag at 15 dB, pass.
  std::vector<Timeline> ts = {SyntheticTimeline("p1", 100, 25.0), SyntheticTimeline("f20", 100, 25.0, 1.0, 2.0),
                              SyntheticTimeline("bad", 0, 25.0), SyntheticTimeline("cut", 100, 25.0),
                              SyntheticTimeline("f15", 100, 25.0, 1.0, 2.0), SyntheticTimeline("p2", 100, 25.0)};
  ts[2].error = "not a video";
  ts[3].complete = false;
  for (TimelineFrame& f : ts[4].frames) f.snr[1] = std::min(f.snr[1], f.seconds >= 1.0 && f.seconds <= 2.0 ? 15.0 : 99.0);
  const std::string html = ReportHtml(ts, Limits(30.0), nullptr);
  const std::vector<std::string> names = {"p1", "f20", "bad", "cut", "f15", "p2"};
  const std::vector<std::string> worstFirst = {"bad", "f15", "f20", "cut", "p1", "p2"};
  EXPECT_EQ(InOrder(html, "<tr data-input=\"", names), worstFirst) << "the table";
  const std::vector<std::string> links = {"2\">bad", "4\">f15", "1\">f20", "3\">cut"};
  EXPECT_EQ(InOrder(html, "<li><a href=\"#t", links), links) << "the list links to the section of the input's number";
  EXPECT_EQ(InOrder(html, "<td><a href=\"#t", links), links) << "and so do the rows";
  EXPECT_NE(html.find("<h2 class=\"attention\">Not passed, worst first</h2>\n<ol class=\"attention\">\n<li><a href=\"#t2\">bad</a>"),
            std::string::npos);
  EXPECT_NE(html.find("f15</a>, row 100: <span class=\"flag\">flag</span> 1 flagged span, lowest 15.00 dB"), std::string::npos);
  EXPECT_EQ(Count(html, "<li>"), 4u) << "passing inputs are not listed";
  const struct {
    int section;
    const char* details;
  } sections[] = {{0, "\"pass\">"}, {1, "\"flag\" open>"}, {2, "\"failed\" open>"}, {3, "\"incomplete\" open>"},
                  {4, "\"flag\" open>"}, {5, "\"pass\">"}};
  for (const auto& s : sections) {
    EXPECT_NE(html.find("<section id=\"t" + std::to_string(s.section) + "\">\n<details data-verdict=" + s.details),
              std::string::npos)
        << s.section;
  }
  for (const char* count : {"count-pass\" data-value=\"2", "count-flag\" data-value=\"2", "count-failed\" data-value=\"1",
                            "count-incomplete\" data-value=\"1"}) {
    EXPECT_NE(html.find(count), std::string::npos) << count;
  }
}

TEST(Report, ALoneInputIsShownOpenWithoutAList) {
  for (const bool dip : {false, true}) {
    const std::string html = ReportHtml({SyntheticTimeline("one", 100, 25.0, dip ? 1.0 : -1, 2.0)}, Limits(30.0), nullptr);
    EXPECT_EQ(Count(html, " open>"), 1u) << dip;
    EXPECT_EQ(html.find("class=\"attention\""), std::string::npos) << dip;
  }
  const std::string all = ReportHtml({SyntheticTimeline("a", 50, 25.0), SyntheticTimeline("b", 50, 25.0)}, Limits(30.0), nullptr);
  EXPECT_NE(all.find("<p class=\"attention\">Every input passed.</p>"), std::string::npos);
  EXPECT_EQ(Count(all, " open>"), 0u);
}

}  // namespace
