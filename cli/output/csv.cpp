#include "cli/output/csv.h"

#include <cstdio>

#include "cli/common/names.h"

std::string CsvHeader(const CsvColumns& c, const char* const* n, int channels) {
  std::string h = std::string(c.input ? "input," : "") + "frame,time," + (c.line ? "line," : "") +
                  (c.field ? "field," : "") + (c.tvLine ? "tv_line," : "");
  for (int i = 0; i < channels; ++i) h += std::string(n[i]) + ',';
  for (int i = 0; i < channels; ++i) h += std::string(n[i]) + "_frame" + (i + 1 < channels ? "," : "\n");
  return h;
}

std::string CsvRow(const CsvColumns& c, int64_t frame, double seconds, const AnalysedLine& line, const double means[3],
                   const double own[3], int channels) {
  char row[256];
  int at = std::snprintf(row, sizeof row, "%lld,%.3f,", static_cast<long long>(frame), seconds);
  if (c.line) at += std::snprintf(row + at, sizeof row - at, "%d,", line.row);
  if (c.field) at += std::snprintf(row + at, sizeof row - at, "%s,", FieldName(line.field));
  if (c.tvLine) at += std::snprintf(row + at, sizeof row - at, "%d,", line.tvLine);
  if (channels == 1) {
    std::snprintf(row + at, sizeof row - at, "%.2f,%.2f\n", means[0], own[0]);
  } else {
    std::snprintf(row + at, sizeof row - at, "%.2f,%.2f,%.2f,%.2f,%.2f,%.2f\n", means[0], means[1], means[2], own[0],
                  own[1], own[2]);
  }
  return row;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}
