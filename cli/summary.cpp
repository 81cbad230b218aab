#include "cli/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void RunningStats::Add(double v) {
  ++count;
  if (count == 1) {
    min = max = v;
  } else {
    min = std::min(min, v);
    max = std::max(max, v);
  }
  const double delta = v - mean;
  mean += delta / count;
  m2 += delta * (v - mean);
}

double RunningStats::StdDev() const { return count > 1 ? std::sqrt(m2 / count) : 0.0; }

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
  if (s.field >= 0) j += std::string("  \"field\": \"") + (s.field == 1 ? "bottom" : "top") + "\",\n";
  if (s.tvLine > 0) j += "  \"tv_line\": " + std::to_string(s.tvLine) + ",\n";
  j += "  \"frames_analysed\": " + std::to_string(s.framesAnalysed) + ",\n";
  j += "  \"frames_dropped\": " + std::to_string(s.framesDropped) + ",\n";
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
  j += "  }\n}\n";
  return j;
}

std::string FailedInputJson(const std::string& input, const std::string& error, int status) {
  return "{\"input\": \"" + Escape(input) + "\", \"error\": \"" + Escape(error) + "\", \"status\": " +
         std::to_string(status) + "}\n";
}
