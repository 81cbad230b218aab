// A flagged line said on stderr: where, how low, how many frames lost.
#pragma once
#include "cli/common/diagnostics.h"
#include "cli/results/judge.h"
#include "cli/results/timeline.h"

// The gaps of lost frames, " (13 at 00:00:04.00, 2 at ...)"; "" where none was found.
std::string DropList(const Timeline& t);
void WarnFlagged(const Timeline& t, const Verdict& v, const Thresholds& limits, Diagnostics& diag);
