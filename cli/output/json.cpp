#include "cli/output/json.h"

#include <cmath>
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

}  // namespace

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
  j += "  \"snr_db\": {\n";
  for (int c = 0; c < 3; ++c) {
    const RunningStats& st = s.channels[c];
    j += std::string("    \"") + s.channelNames[c] + "\": ";
    if (st.count == 0) {
      j += "null";
    } else {
      j += "{\"mean\": " + Number(st.mean) + ", \"min\": " + Number(st.min) + ", \"max\": " + Number(st.max) +
           ", \"stddev\": " + Number(st.StdDev()) + "}";
    }
    j += c < 2 ? ",\n" : "\n";
  }
  j += "  },\n";
  j += std::string("  \"verdict\": \"") + VerdictName(s.verdict) + "\",\n";
  j += "  \"segments\": [";
  for (size_t i = 0; i < s.verdict.segments.size(); ++i) {
    const Segment& g = s.verdict.segments[i];
    j += std::string(i == 0 ? "" : ", ") + "{\"start\": " + Number(g.start) + ", \"end\": " + Number(g.end) +
         ", \"first_frame\": " + std::to_string(g.firstFrame) + ", \"last_frame\": " + std::to_string(g.lastFrame) +
         ", \"worst\": " + Number(g.worst) + ", \"channel\": \"" + s.channelNames[g.channel] + "\"}";
  }
  j += "]\n}\n";  // on one line: a line that starts with a brace starts the next summary
  return j;
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
