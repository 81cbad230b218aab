#include "cli/run/luma_run.h"

#include <algorithm>
#include <string>

#include "analysis/waveform.h"
#include "cli/common/exit_codes.h"
#include "cli/common/names.h"

int ChooseSnrMethod(const CliOptions& o, const FrameSource& source, const InputFrame& first,
                    const AnalysisSettings& settings, SnrMethod* method, Diagnostics& diag) {
  const int width = source.Width();
  const double rate = o.sampleRateMhz > 0 ? o.sampleRateMhz * 1e6 : StandardSampleRate(width);
  if (rate <= 0) {
    return diag.Fail(kExitUsage, "--snr " + std::string(SnrMethodName(o.snrMethod)) + ": a line of " +
                                     std::to_string(width) +
                                     " samples follows no standard sampling; give its sample rate with --sample-rate MHZ");
  }
  const SnrInterval iv = WaveformInterval(width, settings.StartCount, settings.StopCount);
  if (iv.last - iv.first + 1 < 3) {
    return diag.Fail(kExitUsage, "--snr " + std::string(SnrMethodName(o.snrMethod)) + ": the measuring interval holds " +
                                     std::to_string(std::max(iv.last - iv.first + 1, 0)) +
                                     " samples of the line; its noise needs at least 3: widen --interval");
  }
  const int bits = first.luma.bits > 0 ? first.luma.bits : 8;
  *method = MakeSnrMethod(o.snrMethod, rate, source.Height(), bits, first.luma.fullRange, iv.first, iv.last);
  return kExitOk;
}

const uint16_t* LumaSamples(const InputFrame& frame, int row, int width, int bits, std::vector<uint16_t>* fallback) {
  const uint16_t* decoded = frame.luma.width == width ? frame.luma.Row(row) : nullptr;
  if (decoded != nullptr) return decoded;
  const uint8_t* yuy2 = frame.pixels + static_cast<size_t>(row) * width * 2;
  fallback->resize(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) (*fallback)[x] = static_cast<uint16_t>(yuy2[2 * x] << (bits > 8 ? bits - 8 : 0));
  return fallback->data();
}
