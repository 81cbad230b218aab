// The run of one input: its frames through the plug-in's frame path, line by line, into the
// CSV or JSON, the pictures, the results over time and the sidecar.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/options/cli_options.h"
#include "cli/options/run_settings.h"
#include "cli/output/sidecar_writer.h"
#include "cli/results/timeline.h"

class RunObserver;

// One input through its own run; `observer` watches it (the live window) or is null. Several
// inputs in one CSV: `headerPending` is shared and each row starts with `rowPrefix`. The
// lines' timelines go to `timelines` where it is not null; a sidecar with no path is none; each
// picture's name starts with `pictureName`.
int RunInput(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
             bool errIsTerminal, const std::string& rowPrefix, bool* headerPending, RunObserver* observer,
             std::vector<Timeline>* timelines, const SidecarTarget& sidecar,
             const std::string& pictureName = "lineview-");
// An input that gave no frame (`code` its status, `error` why) in every output all the same: its
// JSON line, a timeline for the report with its error, and a sidecar that records it. One
// stopped (130) or timed out (13) before its first frame is incomplete, the others failed.
// Returns `code`, or kExitFailure where the sidecar cannot be written.
int RecordNotAnalysed(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
                      int code, const std::string& error, std::vector<Timeline>* timelines, const SidecarTarget& sidecar);
