// `lineview --live`: the run of one input on a thread of its own, watched by a window on this
// one (SDL2) that shows the picture with the line marked, the selected page and the read-outs,
// and answers keys and clicks. The window never holds the analysis back: a frame that comes
// while the window is still busy with the last one is analysed without a picture.
#pragma once
#include <functional>

#include "cli/common/diagnostics.h"
#include "cli/options/cli_options.h"

class RunObserver;

// `analyse` runs the whole input, telling `observer`; returns its exit status.
int RunLive(const CliOptions& options, Diagnostics& diag, const std::function<int(RunObserver* observer)>& analyse);
