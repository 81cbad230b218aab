// Where a run's files go: folders proven writable before any decoding, and names that do not
// clash between the inputs of one run.
#pragma once
#include <set>
#include <string>

#include "cli/common/diagnostics.h"

// Creates the folder and proves it takes a new file, before any decoding: a folder refused
// only at the end would waste the whole run.
bool PrepareFolder(const std::string& dir, Diagnostics& diag);
// The start of an archive input's picture names: its file name, numbered where an earlier
// input had the same one.
std::string PictureName(const std::string& input, std::set<std::string>& used);
