// A comparison of two captures written out: one CSV row per aligned pair, or one JSON object
// with the offset, the gaps, the means, the segments and the verdict.
#pragma once
#include <string>

#include "cli/results/comparison.h"

// `channels`: the colour space's three, or luminance alone.
std::string ComparisonCsvHeader(const char* const* channelNames, int channels = 3);
// A's frame, B's frame, A's time, then each channel's A, B and B - A.
std::string ComparisonCsvRow(const Timeline& a, const Timeline& b, const AlignedPair& p);
std::string ComparisonJson(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c);
// What the verdict says in words, e.g. "B is better by 1.20 dB; A is better 4.000-6.000 s (Y)".
std::string VerdictText(const Comparison& c, const char* const* channelNames);
