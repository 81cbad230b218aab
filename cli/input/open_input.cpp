// The one place that picks the kind of input. A new kind gets its own file beside the FFmpeg
// and built-in sources and its turn here.
#include "cli/input/builtin_source.h"
#include "cli/input/ffmpeg_source.h"
#include "cli/input/frame_source.h"

std::unique_ptr<FrameSource> OpenFrameSource(const CliOptions& options, Diagnostics& diag, int* exitCode) {
  if (options.input.empty()) {
    if (!options.format.empty() || !options.videoSize.empty()) {
      *exitCode = diag.Fail(kExitUsage, "-f and -s describe an input; name it (- for stdin)");
      return nullptr;
    }
    *exitCode = kExitOk;
    return MakeBuiltInSource(options);
  }
  return OpenFfmpegSource(options, diag, exitCode);
}
