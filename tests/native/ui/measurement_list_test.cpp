#include "ui/measurement_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <vector>

namespace {

bool g_failAllocation = false;

void* FailingWhenAsked(void* block, std::size_t bytes) {
  return g_failAllocation ? nullptr : std::realloc(block, bytes);
}

std::vector<int32_t> Frequencies(const MeasurementList& list) {
  std::vector<int32_t> f;
  for (std::size_t i = 0; i < list.Count(); ++i) f.push_back(list[i].frequencyHz);
  return f;
}

}  // namespace

TEST(MeasurementList, KeepsFrequencyOrderAndReplacesEqualFrequencies) {
  MeasurementList list;
  EXPECT_TRUE(list.Add(200000000, 40.0));
  EXPECT_TRUE(list.Add(100000000, 41.0));
  EXPECT_TRUE(list.Add(150000000, 42.0));
  EXPECT_EQ(Frequencies(list), (std::vector<int32_t>{100000000, 150000000, 200000000}));
  EXPECT_EQ(list[0].snr, 41.0);

  EXPECT_TRUE(list.Add(150000000, 30.5));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list[1].snr, 30.5);

  EXPECT_TRUE(list.Add(250000000, 1.0));  // after the last
  EXPECT_TRUE(list.Add(-5, 2.0));         // before the first
  EXPECT_EQ(Frequencies(list), (std::vector<int32_t>{-5, 100000000, 150000000, 200000000, 250000000}));
  EXPECT_EQ(list.Records()[4].snr, 1.0);
  // Past the end reads as an empty record.
  EXPECT_EQ(list[5].frequencyHz, 0);
  EXPECT_EQ(list[std::numeric_limits<std::size_t>::max()].snr, 0.0);
}

TEST(MeasurementList, GrowsInStepsAndClearFreesTheStorage) {
  MeasurementList list;
  EXPECT_EQ(list.Capacity(), 0u);
  // 1 exactly; then the old capacity plus max(4, count / 8): +4 while count / 8 <= 4, then +5, +5, +6, ...
  std::vector<std::size_t> capacities;
  for (int i = 0; i < 70; ++i) {
    ASSERT_TRUE(list.Add(1000 * i, i));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::size_t>{1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64, 72}));
  // Replacing needs no room.
  ASSERT_TRUE(list.Add(0, 9.0));
  EXPECT_EQ(list.Count(), 70u);

  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Capacity(), 0u);
  EXPECT_EQ(list.Records(), nullptr);
  EXPECT_EQ(ReportText(list), "");
  ASSERT_TRUE(list.Add(7, 1.0));
  EXPECT_EQ(list.Capacity(), 1u);
}

TEST(MeasurementList, FailedGrowthLeavesTheListUnchanged) {
  MeasurementList list(FailingWhenAsked);
  g_failAllocation = true;
  EXPECT_FALSE(list.Add(1, 1.0));
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Capacity(), 0u);

  g_failAllocation = false;
  for (int i = 1; i <= 5; ++i) ASSERT_TRUE(list.Add(10 * i, i));
  ASSERT_EQ(list.Capacity(), 5u);
  g_failAllocation = true;
  EXPECT_FALSE(list.Add(25, 99.0));
  EXPECT_EQ(Frequencies(list), (std::vector<int32_t>{10, 20, 30, 40, 50}));
  EXPECT_EQ(list.Capacity(), 5u);
  EXPECT_EQ(list[2].snr, 3.0);
  EXPECT_TRUE(list.Add(30, 7.5));  // a replacement still works
  EXPECT_EQ(list[2].snr, 7.5);
  g_failAllocation = false;
}

TEST(ReportLine, Examples) {
  EXPECT_EQ(FormatReportLine(175250000, 45.678), "175,25\t45,6\r\n");
  EXPECT_EQ(FormatReportLine(49750000, 5.31), " 49,75\t 5,3\r\n");
  EXPECT_EQ(FormatReportLine(0, 5.31), "  0,0\t 5,3\r\n");
}

TEST(ReportLine, PartsAreTruncatedTowardZero) {
  // Hundredths from the integer hertz: 175.05 MHz is 175 and 5, not the 4 of a double product.
  EXPECT_EQ(FormatReportLine(175050000, 10.0), "175,5\t10,0\r\n");
  EXPECT_EQ(FormatReportLine(-175050000, 10.0), "-175,-5\t10,0\r\n");
  EXPECT_EQ(FormatReportLine(175250000, -3.45), "175,25\t-3,-4\r\n");
  EXPECT_EQ(FormatReportLine(175250000, 0.95), "175,25\t 0,9\r\n");
  EXPECT_EQ(FormatReportLine(175250000, -0.5), "175,25\t 0,-5\r\n");
  EXPECT_EQ(FormatReportLine(std::numeric_limits<int32_t>::min(), 123.0), "-2147,-48\t123,0\r\n");
}

TEST(ReportLine, NonFiniteReadingsGiveDefinedNumbers) {
  EXPECT_EQ(FormatReportLine(0, std::numeric_limits<double>::quiet_NaN()), "  0,0\t 0,0\r\n");
  EXPECT_EQ(FormatReportLine(0, 1e300), "  0,0\t2147483647,2147483647\r\n");
  EXPECT_EQ(FormatReportLine(0, -std::numeric_limits<double>::infinity()), "  0,0\t-2147483648,-2147483648\r\n");
}

TEST(ReportText, OneLinePerRecordInFrequencyOrder) {
  MeasurementList list;
  EXPECT_EQ(ReportText(list), "");
  list.Add(175250000, 45.678);
  list.Add(49750000, 5.31);
  EXPECT_EQ(ReportText(list), " 49,75\t 5,3\r\n175,25\t45,6\r\n");
}
