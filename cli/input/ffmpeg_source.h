// Input through FFmpeg's libraries: a file, a URL, a capture device or raw frames on stdin.
#pragma once
#include <memory>

#include "cli/input/frame_source.h"

// Opens the input the options name and reads its first frame; on failure returns null, with
// the error reported and its exit code in *exitCode.
std::unique_ptr<FrameSource> OpenFfmpegSource(const CliOptions& options, Diagnostics& diag, int* exitCode);
