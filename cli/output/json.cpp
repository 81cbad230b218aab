#include "cli/output/json.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>

#include "cli/common/names.h"
#include "cli/results/judge.h"

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  char b[32];
  std::snprintf(b, sizeof b, "%.4f", v);
  return b;
}

double Worst(const Verdict& v) {
  double w = INFINITY;
  for (const Segment& g : v.segments) w = std::min(w, g.worst);
  return w;
}

std::string Figure(const char* format, double v) {
  char b[48];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

}  // namespace

std::string SnrMethodJson(const SnrMethod& m) {
  std::string j = std::string("{\"name\": \"") + SnrMethodName(m.kind) + "\"";
  if (!m.Luma()) return j + "}";
  j += ", \"low_hz\": " + Figure("%.0f", m.band.lowHz) + ", \"high_hz\": " + Figure("%.0f", m.band.highHz);
  j += std::string(", \"weighting\": \"") + (m.band.weighted ? "unified" : "none") + "\"";
  if (m.band.weighted) j += ", \"tau_ns\": " + Figure("%g", m.band.tauSeconds * 1e9) + ", \"a\": " + Figure("%g", m.band.a);
  j += ", \"reference\": " + Figure("%g", m.reference) + ", \"reference_unit\": \"codes\", \"bits\": " +
       std::to_string(m.bits) + ", \"sample_rate_hz\": " + Figure("%.0f", m.band.sampleRateHz);
  j += ", \"interval_us\": [" + Figure("%.3f", m.intervalUs[0]) + ", " + Figure("%.3f", m.intervalUs[1]) + "]";
  return j + ", \"floor_db\": " + Figure("%.2f", m.floorDb) + "}";
}

std::string SummaryJson(const RunSummary& s) {
  std::string j = "{\n";
  j += "  \"input\": " + (s.input.empty() ? std::string("null") : "\"" + Escape(s.input) + "\"") + ",\n";
  if (s.line >= 0) j += "  \"line\": " + std::to_string(s.line) + ",\n";
  // null: no field was chosen (the row is taken as it comes, whichever field it belongs to)
  j += "  \"field\": " + (s.field >= 0 ? "\"" + std::string(FieldName(s.field)) + "\"" : std::string("null")) + ",\n";
  if (s.tvLine > 0) j += "  \"tv_line\": " + std::to_string(s.tvLine) + ",\n";
  j += std::string("  \"color\": \"") + (s.settings.ColorMode == 1 ? "yuv" : "rgb") + "\",\n";
  char interval[64];
  std::snprintf(interval, sizeof interval, "  \"interval\": [%.1f, %.1f],\n", s.settings.StartCount * 0.1,
                s.settings.StopCount * 0.1);
  j += interval;
  j += "  \"frames_analysed\": " + std::to_string(s.framesAnalysed) + ",\n";
  j += "  \"frames_dropped\": " + std::to_string(s.framesDropped) + ",\n";
  j += "  \"dropped\": [";
  for (size_t i = 0; i < s.dropped.size(); ++i) {
    j += std::string(i == 0 ? "" : ", ") + "{\"at\": " + Number(s.dropped[i].at) + ", \"frames\": " +
         std::to_string(s.dropped[i].frames) + "}";
  }
  j += "],\n";
  j += "  \"frames_damaged\": " + std::to_string(s.framesDamaged) + ",\n";
  j += "  \"snr_method\": " + SnrMethodJson(s.method) + ",\n";
  j += "  \"snr_db\": {\n";
  const int channels = s.method.Channels();
  for (int c = 0; c < channels; ++c) {
    const RunningStats& st = s.channels[c];
    j += std::string("    \"") + s.channelNames[c] + "\": ";
    if (st.count == 0) {
      j += "null";
    } else {
      // A luminance method's mean is a meter's: of the noise power over all frames.
      j += "{\"mean\": " + Number(s.method.Luma() ? st.PowerMean() : st.mean) + ", \"min\": " + Number(st.min) +
           ", \"max\": " + Number(st.max) + ", \"stddev\": " + Number(st.StdDev()) + "}";
    }
    j += c + 1 < channels ? ",\n" : "\n";
  }
  j += "  },\n";
  if (s.quietLine >= 0) j += std::string("  \"quiet_line\": ") + (s.quietLine ? "true" : "false") + ",\n";
  j += std::string("  \"verdict\": \"") + VerdictName(s.verdict) + "\",\n";
  j += "  \"segments\": [";
  for (size_t i = 0; i < s.verdict.segments.size(); ++i) {
    const Segment& g = s.verdict.segments[i];
    j += std::string(i == 0 ? "" : ", ") + "{\"start\": " + Number(g.start) + ", \"end\": " + Number(g.end) +
         ", \"duration\": " + Number(g.duration) + ", \"first_frame\": " + std::to_string(g.firstFrame) +
         ", \"last_frame\": " + std::to_string(g.lastFrame) + ", \"worst\": " + Number(g.worst) + ", \"mean\": " +
         Number(g.mean) + ", \"channel\": \"" + s.channelNames[g.channel] + "\"}";
  }
  j += "]\n}\n";  // on one line: a line that starts with a brace starts the next summary
  return j;
}

std::string FieldPairJson(const RunSummary& a, const RunSummary& b) {
  const bool both = a.verdict.flagged && b.verdict.flagged;
  // The input's figures are those of the field that decides its verdict: the one flagged, the
  // one with the lower worst value where both are, the first where neither is.
  const bool second = b.verdict.flagged && (!a.verdict.flagged || Worst(b.verdict) < Worst(a.verdict));
  std::string j = SummaryJson(second ? b : a);
  j.erase(j.size() - 3);  // "\n}\n"
  std::string failed = "null";
  if (both) {
    failed = "\"both\"";
  } else if (a.verdict.flagged || b.verdict.flagged) {
    failed = std::string("\"") + FieldName((a.verdict.flagged ? a : b).field) + "\"";
  }
  j += ",\n  \"failed_field\": " + failed + ",\n";
  j += "  \"fields\": [" + CompactJson(SummaryJson(a)) + ", " + CompactJson(SummaryJson(b)) + "]\n}\n";
  return j;
}

bool JudgedAsFieldPair(const std::vector<Timeline>& lines, const Thresholds& limits) {
  if (lines.size() != 2 || std::isnan(limits.minSnr)) return false;
  const Timeline &a = lines[0], &b = lines[1];
  return a.input == b.input && a.field >= 0 && b.field >= 0 && a.field != b.field && std::abs(a.line - b.line) == 1;
}

std::string FailedInputJson(const std::string& input, const std::string& error, int status, const char* verdict) {
  return "{\"input\": \"" + Escape(input) + "\", \"verdict\": \"" + verdict + "\", \"error\": \"" + Escape(error) +
         "\", \"status\": " + std::to_string(status) + "}\n";
}

std::string CompactJson(const std::string& json) {
  std::string out;
  bool lineStart = false;
  for (char c : json) {
    if (c == '\n') {
      lineStart = true;
    } else if (!(lineStart && c == ' ')) {
      // A summary that starts here ends the one before (one per line of a run of several).
      if (lineStart && c == '{' && !out.empty()) out += '\n';
      lineStart = false;
      out += c;
    }
  }
  return out;
}
