#include "ui/scope_ranges.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

bool Within(int32_t v, SpinRange r) { return r.lower <= v && v <= r.upper; }

}  // namespace

TEST(ScopeRanges, DefaultsAndPartnerBounds) {
  const ScopeValues v = EffectiveScopeValues(235, 16, 50, 950);
  EXPECT_EQ(v.white, 235);
  EXPECT_EQ(v.black, 16);
  EXPECT_EQ(v.start, 50);
  EXPECT_EQ(v.stop, 950);
  const ScopeRanges r = ScopeSpinRanges(v);
  EXPECT_EQ(r.white.lower, 16);
  EXPECT_EQ(r.white.upper, 255);
  EXPECT_EQ(r.black.lower, 0);
  EXPECT_EQ(r.black.upper, 235);
  EXPECT_EQ(r.start.lower, 0);
  EXPECT_EQ(r.start.upper, 950);
  EXPECT_EQ(r.stop.lower, 50);
  EXPECT_EQ(r.stop.upper, 1000);

  // Black moved up to white: white can go no lower; likewise start moved up to stop.
  const ScopeRanges met = ScopeSpinRanges({235, 235, 950, 950});
  EXPECT_EQ(met.white.lower, 235);
  EXPECT_EQ(met.black.upper, 235);
  EXPECT_EQ(met.stop.lower, 950);
  EXPECT_EQ(met.start.upper, 950);
}

TEST(ScopeRanges, HandEditedValuesAreShownAsTheAnalysisUsesThem) {
  // Inverted pairs: white rises to black, stop to start.
  const ScopeValues inv = EffectiveScopeValues(200, 240, 600, 400);
  EXPECT_EQ(inv.white, 240);
  EXPECT_EQ(inv.black, 240);
  EXPECT_EQ(inv.start, 600);
  EXPECT_EQ(inv.stop, 600);
  // Out of range: each clamped first.
  const ScopeValues out = EffectiveScopeValues(-5, 300, -10, 5000);
  EXPECT_EQ(out.black, 255);
  EXPECT_EQ(out.white, 255);
  EXPECT_EQ(out.start, 0);
  EXPECT_EQ(out.stop, 1000);
  const ScopeValues ends = EffectiveScopeValues(INT_MAX, INT_MIN, INT_MIN, INT_MAX);
  EXPECT_EQ(ends.white, 255);
  EXPECT_EQ(ends.black, 0);
  EXPECT_EQ(ends.start, 0);
  EXPECT_EQ(ends.stop, 1000);

  // Whatever is stored, no spin is given a position outside its range or an empty range.
  const int32_t levels[] = {INT_MIN, -1, 0, 16, 128, 235, 255, 256, INT_MAX};
  const int32_t counts[] = {INT_MIN, -1, 0, 50, 500, 950, 1000, 1001, INT_MAX};
  for (int32_t w : levels)
    for (int32_t b : levels)
      for (int32_t s : counts)
        for (int32_t e : counts) {
          const ScopeValues v = EffectiveScopeValues(w, b, s, e);
          const ScopeRanges r = ScopeSpinRanges({w, b, s, e});
          ASSERT_TRUE(Within(v.white, r.white) && Within(v.black, r.black) && Within(v.start, r.start) &&
                      Within(v.stop, r.stop))
              << w << " " << b << " " << s << " " << e;
          ASSERT_TRUE(r.white.upper == 255 && r.black.lower == 0 && r.start.lower == 0 && r.stop.upper == 1000);
        }
}

TEST(ScopeRanges, FieldTexts) {
  EXPECT_EQ(FormatLevel(235), "235");
  EXPECT_EQ(FormatLevel(16), "16");
  EXPECT_EQ(FormatLevel(-3), "-3");
  EXPECT_EQ(FormatPercent(50), "5.0");
  EXPECT_EQ(FormatPercent(950), "95.0");
  EXPECT_EQ(FormatPercent(1000), "100.0");
  EXPECT_EQ(FormatPercent(0), "0.0");
  EXPECT_EQ(FormatPercent(7), "0.7");
  EXPECT_EQ(FormatPercent(-5), "-0.5");
  EXPECT_EQ(FormatPercent(-15), "-1.5");
  EXPECT_EQ(FormatPercent(INT_MIN), "-214748364.8");
}
