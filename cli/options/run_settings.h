// The settings a run uses: the plug-in's settings file (or its defaults) with the command
// line's overrides on top.
#pragma once
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/options/cli_options.h"
#include "records/analysis_settings.h"

struct RunSettings {
  AnalysisSettings settings{};
  std::vector<int> pages;  // PageMode values, in drawing order; may be empty
};

// Loads the settings file through the plug-in's store and table (defaults, with a warning,
// when it cannot be read), applies the overrides and warns about every value outside the
// range the plug-in's controls allow; such values are kept, as the plug-in keeps them.
// The line is checked later, against the frame height.
RunSettings ResolveSettings(const CliOptions& options, Diagnostics& diag);

// Warns when the line lies outside 0..height-1, naming the line the frame path will use.
void CheckLine(const AnalysisSettings& s, int height, Diagnostics& diag);

// What shapes a run's results, as one text: the options that do (CliOptions::analysisArgs)
// and every setting under its file's name. A sidecar made with another text is not resumed.
std::string SettingsBlock(const CliOptions& options, const RunSettings& settings);
