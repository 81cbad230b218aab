// A comparison of two captures as one self-contained HTML page: the verdict first, both
// captures' values over A's time on one fixed axis, the delta under them, the gaps and the
// segments marked, and the line's page of both at the worst delta side by side.
#pragma once
#include <string>

#include "cli/output/page_picture.h"
#include "cli/output/time_plot.h"
#include "cli/results/comparison.h"

// Every number a program may read back carries data-key and data-value, as the JSON names it.
std::string ComparisonReportHtml(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c,
                                 const ReportOptions& options, TextPainter* text);
