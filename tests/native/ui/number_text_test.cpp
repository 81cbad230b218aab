#include "ui/number_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

TEST(NumberText, HundredthsAreWhatPrintfMakesInTheCLocale) {
  const double values[] = {34.845, 34.855, 175250000 * 0.000001, 49750000 * 0.000001, -0.5, 0.0, -0.0,
                           0.125,  75.72,  1e12,                 -1e-9,               99.995,
                           std::numeric_limits<double>::infinity()};
  for (double v : values) {
    char want[64];
    std::snprintf(want, sizeof want, "%.2f", v);  // the tests run in the C locale
    EXPECT_EQ(FormatHundredths(v), want) << v;
  }
  EXPECT_EQ(FormatHundredths(175250000 * 0.000001), "175.25");
}
