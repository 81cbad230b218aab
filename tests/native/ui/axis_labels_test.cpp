#include "ui/axis_labels.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// 6 pixels per character, 13 high: half-widths 3 per character, half-height 6.
TextExtent SixBy13(const std::string& text) { return {static_cast<int>(text.size()) * 6, 13}; }

std::vector<std::string> Texts(const std::vector<AxisLabel>& labels) {
  std::vector<std::string> t;
  for (const AxisLabel& l : labels) t.push_back(l.text);
  return t;
}

std::vector<std::string> Numbers(int from, int to, int step, const char* prefix = "") {
  std::vector<std::string> t;
  for (int n = from; step > 0 ? n <= to : n >= to; n += step) t.push_back(prefix + std::to_string(n));
  return t;
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The label's text, and its centre as (x, y) under the fake font.
void ExpectCentre(const AxisLabel& l, const std::string& text, int x, int y) {
  EXPECT_EQ(l.text, text);
  EXPECT_EQ(l.x + static_cast<int>(text.size()) * 3, x) << text;
  EXPECT_EQ(l.y + 6, y) << text;
}

const PlotRect kRect{50, 20, 908, 320};  // W 858, H 300, X0 30; labels below have top 328

}  // namespace

TEST(LevelsAxisLabels, DecadesAndSampleValues) {
  const std::vector<AxisLabel> l = LevelsAxisLabels(kRect, SixBy13);
  ASSERT_EQ(Texts(l), Join({{"100%", "0.1", "1.0", "10.0"}, Numbers(0, 240, 16), {"255"}}));
  ExpectCentre(l[0], "100%", 30, 20);
  ExpectCentre(l[1], "0.1", 30, 320);   // the bottom edge
  ExpectCentre(l[2], "1.0", 30, 220);   // 100 px above it
  ExpectCentre(l[3], "10.0", 30, 120);  // 200 px above it
  // n * 858 / 256: 16 -> 53.6 -> 54; 240 -> 804.4 -> 804, short of the right edge.
  ExpectCentre(l[5], "16", 50 + 54, 328 + 6);
  ExpectCentre(l[19], "240", 50 + 804, 328 + 6);
  ExpectCentre(l[20], "255", 908, 328 + 6);
  // H 299: the thirds truncate, 99.7 -> 99 and 199.3 -> 199.
  const std::vector<AxisLabel> odd = LevelsAxisLabels({0, 0, 256, 299}, SixBy13);
  EXPECT_EQ(odd[2].y, 299 - 99 - 6);
  EXPECT_EQ(odd[3].y, 299 - 199 - 6);
}

TEST(ScopeAxisLabels, LevelsUpTheSideAndPercentAlongTheBottom) {
  const std::vector<AxisLabel> l = ScopeAxisLabels(kRect, SixBy13);
  ASSERT_EQ(Texts(l), Join({{"255"}, Numbers(240, 0, -16), Numbers(0, 90, 10), {"100%"}}));
  ExpectCentre(l[0], "255", 30, 20);
  ExpectCentre(l[1], "240", 30, 20 + 19);   // 16 * 300 / 255 = 18.8
  ExpectCentre(l[8], "128", 30, 20 + 151);  // 128 * 300 / 255 = 150.6
  ExpectCentre(l[16], "0", 30, 20 + 301);   // 256 * 300 / 255 = 301.2, below the bottom edge
  ExpectCentre(l[18], "10", 50 + 86, 334);  // 85.8
  ExpectCentre(l[26], "90", 50 + 772, 334); // 772.2
  ExpectCentre(l[27], "100%", 908, 334);
  // Odd extents: halves truncated ("255" 15 x 9 -> 7 and 4).
  auto fiveBy9 = [](const std::string& t) { return TextExtent{static_cast<int>(t.size()) * 5, 9}; };
  const AxisLabel top = ScopeAxisLabels(kRect, fiveBy9)[0];
  EXPECT_EQ(top.x, 30 - 7);
  EXPECT_EQ(top.y, 20 - 4);
}

TEST(SpectrumAxisLabels, DbLabelsFollowTheSensitivity) {
  // s, its step, the last label and that label's offset from the top (n * 300 / s rounded).
  struct Case { int s, step, last, offset; };
  for (const Case c : {Case{40, 5, 40, 300}, Case{110, 10, 110, 300}, Case{12, 2, 12, 300}, Case{45, 5, 45, 300},
                       Case{55, 10, 50, 273}, Case{200, 10, 110, 300}, Case{INT_MIN, 2, 10, 300}}) {
    const std::vector<AxisLabel> l = SpectrumAxisLabels(kRect, SixBy13, c.s);
    const std::vector<std::string> left = Join({{"0dB"}, Numbers(c.step, c.last, c.step, "-")});
    ASSERT_EQ(l.size(), left.size() + 15) << c.s;
    const std::vector<std::string> texts = Texts(l);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + left.size()), left) << c.s;
    ExpectCentre(l[0], "0dB", 30, 20);
    ExpectCentre(l[left.size() - 1], left.back(), 30, 20 + c.offset);
  }
  ExpectCentre(SpectrumAxisLabels(kRect, SixBy13, 40)[1], "-5", 30, 20 + 38);  // 37.5 rounds away from zero
}

TEST(SpectrumAxisLabels, FrequencyAxisSpans675Hundredths) {
  const std::vector<AxisLabel> l = SpectrumAxisLabels({40, 10, 40 + 1350, 310}, SixBy13, 40);  // 2 px per 0.01 MHz
  ASSERT_EQ(l.size(), 24u);
  const char* texts[] = {"0.0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0",
                         "3.5", "4.0", "4.5", "5.0", "5.5", "6.0", "6.5"};
  for (int i = 0; i < 14; ++i) ExpectCentre(l[9 + i], texts[i], 40 + 100 * i, 318 + 6);
  ExpectCentre(l[23], "MHz", 1390, 318 + 6);
  ExpectCentre(SpectrumAxisLabels(kRect, SixBy13, 40)[22], "6.5", 50 + 826, 334);  // 650 * 858 / 675 = 826.2
}

TEST(PageAxisLabels, ByModeAndBadInput) {
  AnalysisSettings settings{};
  settings.FFTSensitivity = 12;
  EXPECT_EQ(Texts(PageAxisLabels(0, kRect, SixBy13, settings)), Texts(ScopeAxisLabels(kRect, SixBy13)));
  EXPECT_EQ(Texts(PageAxisLabels(1, kRect, SixBy13, settings)), Texts(SpectrumAxisLabels(kRect, SixBy13, 12)));
  EXPECT_EQ(Texts(PageAxisLabels(2, kRect, SixBy13, settings)), Texts(LevelsAxisLabels(kRect, SixBy13)));
  EXPECT_TRUE(PageAxisLabels(3, kRect, SixBy13, settings).empty());
  EXPECT_TRUE(PageAxisLabels(-1, kRect, SixBy13, settings).empty());

  // No measure function: placed as texts of no size.
  const AxisLabel top = LevelsAxisLabels(kRect, MeasureTextFn{})[0];
  EXPECT_EQ(top.x, 30);
  EXPECT_EQ(top.y, 20);
  // Absurd sizes and coordinates near the ends of int: no overflow (the sanitizer run checks).
  auto absurd = [](const std::string&) { return TextExtent{INT_MAX, INT_MIN}; };
  EXPECT_EQ(ScopeAxisLabels(kRect, absurd).size(), 28u);
  EXPECT_TRUE(ScopeAxisLabels({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, SixBy13).empty());
  EXPECT_TRUE(SpectrumAxisLabels({0, 0, INT_MAX, 300}, SixBy13, 40).empty());
  EXPECT_EQ(LevelsAxisLabels({908, 320, 50, 20}, SixBy13).size(), 21u);  // inverted: still drawn
}

TEST(Sensitivity, StepsOfTheSpin) {
  EXPECT_EQ(StepSensitivity(50, true), 60);
  EXPECT_EQ(StepSensitivity(50, false), 45);
  EXPECT_EQ(StepSensitivity(20, true), 25);
  EXPECT_EQ(StepSensitivity(20, false), 18);
  EXPECT_EQ(StepSensitivity(110, true), 110);
  EXPECT_EQ(StepSensitivity(10, false), 10);
  EXPECT_EQ(StepSensitivity(11, false), 10);
  std::vector<int32_t> up, down;
  for (int32_t s = 40; up.size() < 10;) up.push_back(s = StepSensitivity(s, true));
  for (int32_t s = 40; down.size() < 10;) down.push_back(s = StepSensitivity(s, false));
  EXPECT_EQ(up, (std::vector<int32_t>{45, 50, 60, 70, 80, 90, 100, 110, 110, 110}));
  EXPECT_EQ(down, (std::vector<int32_t>{35, 30, 25, 20, 18, 16, 14, 12, 10, 10}));
}

TEST(Sensitivity, HandEditedValuesAreShownAndSteppedClamped) {
  EXPECT_EQ(EffectiveSensitivity(200), 110);
  EXPECT_EQ(EffectiveSensitivity(0), 10);
  EXPECT_EQ(EffectiveSensitivity(73), 73);
  EXPECT_EQ(StepSensitivity(200, false), 100);  // shown as 110
  EXPECT_EQ(StepSensitivity(5, true), 12);      // shown as 10
  EXPECT_EQ(StepSensitivity(INT_MAX, true), 110);
  EXPECT_EQ(StepSensitivity(INT_MIN, false), 10);
}

TEST(PageAxisLabels, DistancesFromThePlotGrowWithTheDpi) {
  // 20 and 8 pixels at 96 DPI: 30 and 12 at 144, 40 and 16 at 192; a DPI no screen has is 96.
  struct Case { int dpi, x0, below; };
  for (const Case c :
       {Case{96, 30, 328}, Case{144, 20, 332}, Case{192, 10, 336}, Case{0, 30, 328}, Case{-5, 30, 328}}) {
    for (int mode = 0; mode < 3; ++mode) {
      const std::vector<AxisLabel> l = PageAxisLabels(mode, kRect, SixBy13, AnalysisSettings{}, c.dpi);
      ASSERT_FALSE(l.empty());
      EXPECT_EQ(l.front().x + static_cast<int>(l.front().text.size()) * 3, c.x0) << c.dpi << " " << mode;
      EXPECT_EQ(l.back().y, c.below) << c.dpi << " " << mode;
    }
  }
}
