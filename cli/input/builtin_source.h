// The input of a run without one: the host's 75 % colour bars.
#pragma once
#include <memory>

#include "cli/input/frame_source.h"

// -ss, -t and -to count frames at the signal's rate, as on raw input.
std::unique_ptr<FrameSource> MakeBuiltInSource(const CliOptions& options);
