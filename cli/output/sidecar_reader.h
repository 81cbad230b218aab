// A sidecar read back, for --from: the results of a run without decoding its input again.
#pragma once
#include <string>
#include <vector>

#include "cli/results/timeline.h"

// What a sidecar says of its own making: whether it was written to its end, from which input
// and with which settings.
struct SidecarFacts {
  bool whole = false;     // written to its end (not cut short), whether or not its run finished
  bool finished = false;  // whole, and its run analysed its input to the end
  std::string input;      // as its run named it; "" where the file does not say
  std::string size, modified, settings;  // "" where the file does not say (an older lineview's)
};

// A sidecar back as one timeline per analysed line; false with *error when it is not one.
// One cut short (a .part of a run killed outright, a copy cut off) gives its frames up to the
// last whole one, as incomplete with Timeline::cut; *cut where it has not even one. The error
// is valid UTF-8 and the same on every read of the same file.
bool ReadSidecar(const std::string& path, std::vector<Timeline>* lines, std::string* error, bool* cut = nullptr,
                 SidecarFacts* facts = nullptr);
