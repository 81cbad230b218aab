#include "cli/run/input_run.h"

#include "cli/output/json.h"
#include "cli/output/sidecar_writer.h"

int RecordNotAnalysed(const CliOptions& o, const RunSettings& rs, std::ostream& out, Diagnostics& diag, int code,
                      const std::string& error, std::vector<Timeline>* timelines, const std::string& sidecarPath) {
  const bool stopped = code == kExitStopped || code == kExitTimeout;
  Timeline t;
  t.input = o.input;
  t.settings = rs.settings;
  t.method.kind = o.snrMethod;
  t.channelNames = ChannelNames(rs.settings.ColorMode);
  t.error = error.empty() ? "not one frame could be analysed" : error;
  t.complete = !stopped;
  if (!sidecarPath.empty()) {
    SidecarWriter sidecar;
    std::string error;
    if (!sidecar.Open(sidecarPath, &error)) return diag.Fail(kExitFailure, error);
    if (!sidecar.Finish({&t}, stopped)) return diag.Fail(kExitFailure, "cannot write '" + sidecarPath + "'");
  }
  if (o.json) out << FailedInputJson(o.input, t.error, code, stopped ? "incomplete" : "failed") << std::flush;
  if (timelines) timelines->push_back(std::move(t));
  return code;
}
