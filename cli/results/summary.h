// What --json reports: per channel the mean, minimum, maximum and standard deviation of each
// frame's own SNR over the run (not of the 50-frame means, whose first 49 values still climb
// from zero), kept in constant memory however long the input is.
#pragma once
#include <cstdint>
#include <string>

#include "cli/results/judge.h"
#include "cli/results/timeline.h"
#include "cli/common/names.h"

struct RunningStats {
  int64_t count = 0;
  double mean = 0.0;
  double m2 = 0.0;  // sum of squared deviations (Welford)
  double min = 0.0;
  double max = 0.0;
  double powerSum = 0.0;  // of the noise powers the values stand for, 10^(-v/10)
  int64_t powers = 0;     // the values in it: those that are numbers

  void Add(double v);
  // Population standard deviation; 0 for fewer than two values.
  double StdDev() const;
  // The ratio of the values' mean noise power, as a meter integrating them all reads it.
  double PowerMean() const;
};

struct RunSummary {
  std::string input;     // "" for the built-in signal
  const char* const* channelNames = ChannelNames(0);
  RunningStats channels[3];
  int64_t framesAnalysed = 0;
  int64_t framesDropped = 0;
  int64_t framesDamaged = 0;  // delivered, but with errors the decoder flagged or concealed
  // Where a run analyses several lines or a field: which one (the row), its field (0 top,
  // 1 bottom) and its standard number; -1, -1 and 0 leave them out.
  int line = -1, field = -1, tvLine = 0;
  AnalysisSettings settings{};     // as used: the colour space and the measuring interval
  SnrMethod method;                // how the values were measured
  std::vector<DropRange> dropped;  // the gaps in the frames' times
  std::string error;               // not "": the input failed, and why
  Verdict verdict;  // pass, with no segments, where no threshold was given
  int quietLine = -1;  // 1: only noise in the measuring interval; 0: picture too; -1: not known
  double cutAt = -1;   // a sidecar cut short: the time of its last whole frame; -1 otherwise
};

// The summary of a timeline read back: its statistics over the values as stored.
RunSummary SummaryOf(const Timeline& t, const Thresholds& limits);
