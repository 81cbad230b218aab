#include "cli/output/report_overview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "cli/common/clock.h"
#include "cli/output/markup.h"
#include "cli/results/judge.h"
#include "cli/results/summary.h"

std::string ReportFormat(const char* format, double v) {
  char b[64];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

std::string ReportShown(double v) {
  if (std::isnan(v)) return "—";
  if (std::isinf(v)) return v > 0 ? "∞" : "−∞";
  return ReportFormat("%.2f", v);
}

std::string ReportExact(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return ReportFormat("%.17g", v);
}

// One form for every line: "line 73 (row 100), top field"; "row 100" where the height has no
// standard line; the field only where one was chosen.
std::string ReportLineText(const Timeline& t) {
  const int row = t.line >= 0 ? t.line : t.settings.TVLine;
  std::string s = t.tvLine > 0 ? "line " + std::to_string(t.tvLine) + " (row " + std::to_string(row) + ")"
                               : "row " + std::to_string(row);
  if (t.field >= 0) s += t.field == 1 ? ", bottom field" : ", top field";
  return s;
}

std::string ReportBase64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (n > 1) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (n > 2) v |= uint8_t(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::string ReportInputName(const Timeline& t) { return t.input.empty() ? "built-in signal" : t.input; }

int VerdictRank(const Verdict& v) {
  const std::string name = VerdictName(v);
  return name == "failed" ? 0 : name == "flag" ? 1 : name == "incomplete" ? 2 : 3;
}

namespace {

const char* const kVerdicts[] = {"pass", "flag", "failed", "incomplete"};

// The lowest SNR of any flagged span; +inf where none (a NaN never orders).
double LowestSpan(const Verdict& v) {
  double low = INFINITY;
  for (const Segment& s : v.segments) {
    if (!std::isnan(s.worst)) low = std::min(low, s.worst);
  }
  return low;
}

// The verdicts counted over all inputs, each in its colour.
void VerdictCounts(std::string& h, const std::vector<TimePlot>& plots) {
  int counts[4] = {};
  for (const TimePlot& p : plots) {
    const std::string name = VerdictName(p.verdict);
    for (int k = 0; k < 4; ++k) counts[k] += name == kVerdicts[k];
  }
  h += "<p class=\"counts\">" + std::to_string(plots.size()) + (plots.size() == 1 ? " input: " : " inputs: ");
  for (int k = 0; k < 4; ++k) {
    h += std::string(k ? ", " : "") + "<span class=\"" + kVerdicts[k] + "\" data-key=\"count-" + kVerdicts[k] +
         "\" data-value=\"" + std::to_string(counts[k]) + "\">" + std::to_string(counts[k]) + " " + kVerdicts[k] + "</span>";
  }
  h += "</p>\n";
}

// Why an input did not pass, in a few words.
std::string Reason(const Timeline& t, const TimePlot& p) {
  const Verdict& v = p.verdict;
  if (!t.error.empty()) return t.error;
  std::string why;
  auto add = [&](const std::string& s) { why += (why.empty() ? "" : "; ") + s; };
  if (v.incomplete) {
    add(t.frames.empty() ? "not analysed to its end, no frame"
                         : "not analysed to its end: " + Clock(p.start, true) + " to " + Clock(p.end, true));
  }
  if (!v.segments.empty()) {
    add(std::to_string(v.segments.size()) + (v.segments.size() == 1 ? " flagged span" : " flagged spans") + ", lowest " +
        ReportShown(LowestSpan(v)) + " dB");
  }
  if (v.tooManyDropped) add(std::to_string(t.framesDropped) + " frames dropped");
  if (v.tooManyDamaged) add(std::to_string(t.framesDamaged) + " frames damaged");
  return why;
}

void NotPassed(std::string& h, const std::vector<Timeline>& timelines, const std::vector<TimePlot>& plots,
               const std::vector<size_t>& order) {
  std::string items;
  for (size_t i : order) {
    if (VerdictRank(plots[i].verdict) == 3) continue;
    const char* verdict = VerdictName(plots[i].verdict);
    items += "<li><a href=\"#t" + std::to_string(i) + "\">" + EscapeMarkup(ReportInputName(timelines[i])) + "</a>, " +
             EscapeMarkup(ReportLineText(timelines[i])) + ": <span class=\"" + verdict + "\">" + verdict + "</span> " +
             EscapeMarkup(Reason(timelines[i], plots[i])) + "</li>\n";
  }
  h += items.empty() ? "<p class=\"attention\">Every input passed.</p>\n"
                     : "<h2 class=\"attention\">Not passed, worst first</h2>\n<ol class=\"attention\">\n" + items + "</ol>\n";
}

std::string NumberCell(const Timeline& t, const std::string& key, double v) {
  return "<td class=\"n\" data-input=\"" + EscapeMarkup(t.input) + "\" data-key=\"" + EscapeMarkup(key) + "\" data-value=\"" +
         ReportExact(v) + "\">" + ReportShown(v) + "</td>";
}

std::string CountCell(const Timeline& t, const std::string& key, int64_t v) {
  return "<td class=\"n\" data-input=\"" + EscapeMarkup(t.input) + "\" data-key=\"" + key + "\" data-value=\"" +
         std::to_string(v) + "\">" + std::to_string(v) + "</td>";
}

// The header over each channel's three columns: the channel's name, or all names the inputs give it.
std::string ChannelHeading(const std::vector<Timeline>& timelines, int c) {
  std::set<std::string> seen;
  std::string names;
  for (const Timeline& t : timelines) {
    if (seen.insert(t.channelNames[c]).second) names += (names.empty() ? "" : "/") + std::string(t.channelNames[c]);
  }
  return names.empty() ? std::to_string(c + 1) : names;
}

void SummaryRow(std::string& h, const Timeline& t, const Verdict& v, size_t i, int channels) {
  RunningStats stats[3];
  for (const TimelineFrame& f : t.frames) {
    for (int c = 0; c < t.method.Channels(); ++c) stats[c].Add(f.snr[c]);
  }
  h += "<tr data-input=\"" + EscapeMarkup(t.input) + "\" data-line=\"" + std::to_string(t.line) + "\"><td><a href=\"#t" +
       std::to_string(i) + "\">" + EscapeMarkup(ReportInputName(t)) + "</a></td><td>" + EscapeMarkup(ReportLineText(t)) +
       "</td>";
  h += CountCell(t, "frames", static_cast<int64_t>(t.frames.size())) + CountCell(t, "dropped", t.framesDropped) +
       CountCell(t, "damaged", t.framesDamaged);
  for (int c = 0; c < channels; ++c) {
    const std::string name = t.channelNames[c];
    const bool none = stats[c].count == 0;
    const double mean = t.method.Luma() ? stats[c].PowerMean() : stats[c].mean;  // a meter's mean, of the power
    h += NumberCell(t, name + ".mean", none ? NAN : mean) + NumberCell(t, name + ".min", none ? NAN : stats[c].min) +
         NumberCell(t, name + ".max", none ? NAN : stats[c].max);
  }
  const char* verdict = VerdictName(v);
  const std::string why = t.error.empty() ? "" : ": " + EscapeMarkup(t.error);
  h += "<td class=\"" + std::string(verdict) + "\" data-input=\"" + EscapeMarkup(t.input) +
       "\" data-key=\"verdict\" data-value=\"" + verdict + "\">" + verdict + why + "</td>";
  h += CountCell(t, "segments", static_cast<int64_t>(v.segments.size())) + "</tr>\n";
}

void SummaryTable(std::string& h, const std::vector<Timeline>& timelines, const std::vector<TimePlot>& plots,
                  const std::vector<size_t>& order) {
  h += "<table class=\"summary\">\n<tr><th rowspan=\"2\">Input</th><th rowspan=\"2\">Line</th><th rowspan=\"2\">Frames</th>"
       "<th rowspan=\"2\">Dropped</th><th rowspan=\"2\">Damaged</th>";
  int channels = 1;  // luminance alone where every input was measured so
  for (const Timeline& t : timelines) channels = std::max(channels, t.method.Channels());
  for (int c = 0; c < channels; ++c) h += "<th colspan=\"3\">" + EscapeMarkup(ChannelHeading(timelines, c)) + " SNR, dB</th>";
  h += "<th rowspan=\"2\">Verdict</th><th rowspan=\"2\">Flagged spans</th></tr>\n<tr>";
  for (int c = 0; c < channels; ++c) h += "<th>mean</th><th>min</th><th>max</th>";
  h += "</tr>\n";
  for (size_t i : order) SummaryRow(h, timelines[i], plots[i].verdict, i, channels);
  h += "</table>\n";
}

}  // namespace

std::vector<size_t> WorstFirst(const std::vector<TimePlot>& plots) {
  std::vector<size_t> order(plots.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const Verdict &va = plots[a].verdict, &vb = plots[b].verdict;
    if (VerdictRank(va) != VerdictRank(vb)) return VerdictRank(va) < VerdictRank(vb);
    if (LowestSpan(va) != LowestSpan(vb)) return LowestSpan(va) < LowestSpan(vb);
    return va.segments.size() > vb.segments.size();
  });
  return order;
}

void ReportOverview(std::string& h, const std::vector<Timeline>& timelines, const std::vector<TimePlot>& plots,
                    const std::vector<size_t>& order) {
  VerdictCounts(h, plots);
  if (timelines.size() > 1) NotPassed(h, timelines, plots, order);
  SummaryTable(h, timelines, plots, order);
}
