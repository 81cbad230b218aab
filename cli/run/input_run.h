// The run of one input: its frames through the plug-in's frame path, line by line, into the
// CSV or JSON, the pictures, the results over time and the sidecar.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/options/cli_options.h"
#include "cli/options/run_settings.h"
#include "cli/results/timeline.h"

class RunObserver;

// One input through its own run; `observer` watches it (the live window) or is null. Several
// inputs in one CSV: `headerPending` is shared and each row starts with `rowPrefix`. The
// lines' timelines go to `timelines` where it is not null; `sidecarPath` "" writes none; each
// picture's name starts with `pictureName`.
int RunInput(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
             bool errIsTerminal, const std::string& rowPrefix, bool* headerPending, RunObserver* observer,
             std::vector<Timeline>* timelines, const std::string& sidecarPath,
             const std::string& pictureName = "lineview-");
