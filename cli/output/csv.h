// The CSV on stdout: one row per analysed frame and line.
#pragma once
#include <cstdint>
#include <string>

#include "cli/common/line_choice.h"

// The columns a run writes beside the frame, the time and the six ratios.
struct CsvColumns {
  bool input = false;   // several inputs: each row starts with its input's name
  bool line = false;    // several lines, or a field: each row says which
  bool field = false;
  bool tvLine = false;
};

// `channels`: the colour space's three, or luminance alone (its name first in channelNames).
std::string CsvHeader(const CsvColumns& columns, const char* const* channelNames, int channels = 3);
// A row without its input's name: the running read-outs (the 50-frame means exactly as the tool
// window shows them, or a luminance method's one-second power mean), then the frame's own ratios.
std::string CsvRow(const CsvColumns& columns, int64_t frame, double seconds, const AnalysedLine& line,
                   const double means[3], const double own[3], int channels = 3);
// An input's name as a CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);
