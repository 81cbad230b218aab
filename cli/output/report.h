// What an archivist looks at: one self-contained HTML page for all inputs of a run (or of
// their sidecars), and the same plot over time as a picture.
#pragma once
#include <string>
#include <vector>

#include "cli/output/page_picture.h"
#include "cli/output/time_plot.h"
#include "cli/results/timeline.h"

// The whole page. Nothing in it depends on when or where it is made: the same timelines give
// the same bytes.
std::string ReportHtml(const std::vector<Timeline>& timelines, const ReportOptions& options, TextPainter* text);

