// A sidecar read back, for --from: the results of a run without decoding its input again.
#pragma once
#include <string>
#include <vector>

#include "cli/results/timeline.h"

// A sidecar back as one timeline per analysed line; false with *error when it is not one, and
// *cut where it is one cut short (its run did not finish writing it). The error is valid UTF-8
// and the same on every read of the same file.
bool ReadSidecar(const std::string& path, std::vector<Timeline>* lines, std::string* error, bool* cut = nullptr);
