// A flagged line said on stderr: where, how low, how many frames lost; and a line whose
// measuring interval holds picture.
#pragma once
#include "cli/common/diagnostics.h"
#include "cli/results/judge.h"
#include "cli/results/timeline.h"

// The gaps of lost frames, " (13 at 00:00:04.00, 2 at ...)"; "" where none was found.
std::string DropList(const Timeline& t);
void WarnFlagged(const Timeline& t, const Verdict& v, const Thresholds& limits, Diagnostics& diag);
// Once per line that was not quiet: what that means and where to measure instead. Leaves the
// exit status as it is.
void WarnNotQuiet(const Timeline& t, double ratio, Diagnostics& diag);
// Where a luminance method's figure (`db`, the power mean) lies within 3 dB of what rounding to
// its bit depth alone gives: the capture cannot show less noise. Leaves the exit status as it is.
void WarnAtFloor(const Timeline& t, double db, Diagnostics& diag);
