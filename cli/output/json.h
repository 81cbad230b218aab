// The JSON lines of --json: an input's summary, an input that failed, and the compaction that
// puts each on one line.
#pragma once
#include <string>

#include "cli/results/summary.h"

std::string SummaryJson(const RunSummary& summary);
// An input of an archive run that could not be analysed, on one line: its name, the error as
// printed and the exit status it would have had alone.
std::string FailedInputJson(const std::string& input, const std::string& error, int status,
                            const char* verdict = "failed");
// The summary on one line: the line breaks and indentation between its fields dropped (no
// string in it holds a raw line break: they are escaped).
std::string CompactJson(const std::string& json);
