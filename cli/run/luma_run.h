// What a run needs to measure by a luminance method: the method its input calls for, and each
// frame's luma samples.
#pragma once
#include <cstdint>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/input/frame_source.h"
#include "cli/options/cli_options.h"
#include "cli/results/snr_method.h"

// The method the options ask for, on the input's line width (its sampling), height (525 or
// 625 lines) and first frame (the samples' depth and range), over the settings' interval.
// kExitOk, or kExitUsage, said, where the width names no sample rate and --sample-rate gives none.
int ChooseSnrMethod(const CliOptions& o, const FrameSource& source, const InputFrame& first,
                    const AnalysisSettings& settings, SnrMethod* method, Diagnostics& diag);

// The luma of `row`: as decoded where the source gave it; else (an RGB picture, the built-in
// signal, a frame of another size) the converted frame's 8-bit luma, in codes of `bits`.
const uint16_t* LumaSamples(const InputFrame& frame, int row, int width, int bits, std::vector<uint16_t>* fallback);
