#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <sstream>

#include "cli/run/progress.h"
#include "cli/results/summary.h"
#include "cli/output/json.h"

namespace {

TEST(Progress, FramesRateAndTimeToGo) {
  EXPECT_EQ(FormatProgress(50, 100, 2.0, 10), "[#####.....] 50/100 frames  25.0 fps  ETA 0:02");
  EXPECT_EQ(FormatProgress(0, 100, 0.0, 4), "[....] 0/100 frames");
  EXPECT_EQ(FormatProgress(90000, 180000, 60.0, 4), "[##..] 90000/180000 frames  1500.0 fps  ETA 1:00");
  EXPECT_EQ(FormatProgress(25, 400000, 1.0, 4), "[....] 25/400000 frames  25.0 fps  ETA 4:26:39");
  // A duration that underestimates the frames: a full bar, nothing left to go.
  EXPECT_EQ(FormatProgress(120, 100, 4.0, 4), "[####] 120/100 frames  30.0 fps  ETA 0:00");
  // No duration (a pipe, a device): no bar, no ETA.
  EXPECT_EQ(FormatProgress(75, 0, 3.0, 10), "75 frames  25.0 fps");
}

// At the end of the input the bar ends full at the real count, whatever the container
// promised; a message in mid-run starts on a line of its own.
TEST(Progress, EndsAtTheRealCountAndMessagesStayOutOfIt) {
  const struct {
    int64_t total, frames;
    bool ended;
    std::string last;
  } cases[] = {{500, 498, true, "498/498 frames"}, {100, 120, true, "120/120 frames"}, {500, 40, false, "40/500 frames"}};
  for (const auto& c : cases) {
    std::ostringstream err;
    Diagnostics diag(err);
    ProgressBar bar(diag, true, c.total);
    bar.Update(1);
    diag.Warn(kExitReadError, "something");
    bar.Update(2);
    bar.Finish(c.frames, c.ended);
    const std::string text = err.str();
    EXPECT_NE(text.find("\nlineview: warning: something\n\r"), std::string::npos) << text;
    const std::string tail = text.substr(text.rfind('\r'));
    EXPECT_NE(tail.find(c.last), std::string::npos) << tail;
    EXPECT_EQ(text.back(), '\n');
  }
}

TEST(Summary, RunningStatisticsMatchTwoPassOnes) {
  std::mt19937 rng(3);
  std::normal_distribution<double> dist(1e6, 0.5);  // a large offset tests the update's stability
  std::vector<double> values(5000);
  for (double& v : values) v = dist(rng);
  RunningStats s;
  for (double v : values) s.Add(v);
  double mean = 0;
  for (double v : values) mean += v;
  mean /= values.size();
  double sq = 0;
  for (double v : values) sq += (v - mean) * (v - mean);
  EXPECT_EQ(s.count, 5000);
  EXPECT_NEAR(s.mean, mean, 1e-7);
  EXPECT_NEAR(s.StdDev(), std::sqrt(sq / values.size()), 1e-7);
  EXPECT_EQ(s.min, *std::min_element(values.begin(), values.end()));
  EXPECT_EQ(s.max, *std::max_element(values.begin(), values.end()));

  RunningStats one;
  one.Add(-3.5);
  EXPECT_EQ(one.min, -3.5);
  EXPECT_EQ(one.max, -3.5);
  EXPECT_EQ(one.StdDev(), 0.0);
}

TEST(Summary, JsonOfARunWithoutFramesAndOfAnOddName) {
  RunSummary s;
  s.input = "a \"b\"\\c\n.mkv";
  s.framesDropped = 2;
  const std::string j = SummaryJson(s);
  EXPECT_NE(j.find("\"input\": \"a \\\"b\\\"\\\\c\\u000a.mkv\""), std::string::npos) << j;
  EXPECT_NE(j.find("\"frames_analysed\": 0,"), std::string::npos) << j;
  EXPECT_NE(j.find("\"frames_dropped\": 2,"), std::string::npos) << j;
  EXPECT_NE(j.find("\"R\": null,"), std::string::npos) << j;
  EXPECT_NE(j.find("\"B\": null\n"), std::string::npos) << j;
}

}  // namespace
