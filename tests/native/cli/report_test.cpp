// The report page and the plot picture over synthetic timelines.
#include "cli/output/report.h"

#include <gtest/gtest.h>


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
