// A flagged line said on stderr: where, how low, how many frames lost.
#pragma once
#include "cli/common/diagnostics.h"
#include "cli/results/judge.h"
#include "cli/results/timeline.h"

void WarnFlagged(const Timeline& t, const Verdict& v, const Thresholds& limits, Diagnostics& diag);
