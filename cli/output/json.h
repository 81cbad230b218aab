// The JSON lines of --json: an input's summary, an input that failed, and the compaction that
// puts each on one line.
#pragma once
#include <string>
#include <vector>

#include "cli/results/summary.h"

std::string SummaryJson(const RunSummary& summary);
// How the figures were measured, as one JSON object: the method's name and, for the luminance
// methods, the band, the network, the reference, the sampling, the interval and the floor.
std::string SnrMethodJson(const SnrMethod& method);
// Both fields of one input judged together: the figures of the field that decides the verdict,
// "failed_field" ("top", "bottom", "both" or null) and each field's own summary under "fields".
std::string FieldPairJson(const RunSummary& a, const RunSummary& b);
// Whether the lines of one sidecar are such a pair: two rows next to each other, one of each
// field, judged against a minimum.
bool JudgedAsFieldPair(const std::vector<Timeline>& lines, const Thresholds& limits);
// An input of an archive run that could not be analysed, on one line: its name, the error as
// printed and the exit status it would have had alone.
std::string FailedInputJson(const std::string& input, const std::string& error, int status,
                            const char* verdict = "failed");
// The summary on one line: the line breaks and indentation between its fields dropped (no
// string in it holds a raw line break: they are escaped).
std::string CompactJson(const std::string& json);
