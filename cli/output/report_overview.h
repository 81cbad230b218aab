// The top of the report: the verdicts counted, the inputs that did not pass (worst first), and
// the summary table in the same order, each row linked to its input's section. What lets a
// reader of a 60-tape page go straight to the four that need a look.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "cli/output/time_plot.h"
#include "cli/results/timeline.h"

// Numbers and names as the report shows them.
std::string ReportFormat(const char* format, double v);
std::string ReportShown(double v);  // two decimals; a sign for what is no number
std::string ReportExact(double v);  // every digit, for a program reading the page back
std::string ReportLineText(const Timeline& t);
std::string ReportInputName(const Timeline& t);
// The bytes of a picture inside a data: URI.
std::string ReportBase64(const std::string& bytes);

// How bad a verdict is: 0 failed, 1 flag, 2 incomplete, 3 pass.
int VerdictRank(const Verdict& v);

// The inputs' indices, worst first: by verdict, then the lowest SNR of a flagged span, then
// the most spans; inputs alike keep their order, so the same timelines give the same page.
std::vector<size_t> WorstFirst(const std::vector<TimePlot>& plots);

// Appends the counts, the list of what did not pass (over more than one input) and the table.
// Section i of the page is "t" + i.
void ReportOverview(std::string& h, const std::vector<Timeline>& timelines, const std::vector<TimePlot>& plots,
                    const std::vector<size_t>& order);
