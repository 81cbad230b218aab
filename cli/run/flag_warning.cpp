#include "cli/run/flag_warning.h"

#include <algorithm>
#include <cstdio>

#include "cli/common/clock.h"

std::string DropList(const Timeline& t) {
  std::string s;
  char b[64];
  for (const DropRange& d : t.dropped) {
    std::snprintf(b, sizeof b, "%s%lld at %s", s.empty() ? " (" : ", ", static_cast<long long>(d.frames), Clock(d.at, true).c_str());
    s += b;
  }
  return s.empty() ? s : s + ")";
}

void WarnFlagged(const Timeline& t, const Verdict& v, const Thresholds& limits, Diagnostics& diag) {
  std::string text = t.input.empty() ? "the built-in signal" : "'" + t.input + "'";
  if (t.line >= 0) text += " line " + std::to_string(t.line);
  if (t.field >= 0) text += std::string(" (") + FieldName(t.field) + " field)";
  text += ": flagged";
  if (!v.segments.empty()) {
    char b[160];
    std::snprintf(b, sizeof b, ": %zu %s below %g dB:", v.segments.size(), v.segments.size() == 1 ? "segment" : "segments",
                  limits.minSnr);
    text += b;
    constexpr size_t kListed = 5;
    for (size_t i = 0; i < std::min(v.segments.size(), kListed); ++i) {
      const Segment& g = v.segments[i];
      std::snprintf(b, sizeof b, " %s-%s (worst %.2f dB %s)", Clock(g.start, true).c_str(), Clock(g.end, true).c_str(),
                    g.worst, t.channelNames[g.channel]);
      text += b + std::string(i + 1 < std::min(v.segments.size(), kListed) ? "," : "");
    }
    if (v.segments.size() > kListed) text += " and " + std::to_string(v.segments.size() - kListed) + " more";
  }
  if (v.tooManyDropped) {
    text += (v.segments.empty() ? ": " : "; ") + std::to_string(t.framesDropped) + " frames lost, more than --max-dropped " +
            std::to_string(limits.maxDropped) + DropList(t);
  }
  if (v.tooManyDamaged) {
    text += (v.segments.empty() && !v.tooManyDropped ? ": " : "; ") + std::to_string(t.framesDamaged) +
            " frames damaged, more than --max-damaged " + std::to_string(limits.maxDamaged);
  }
  diag.Warn(kExitFlagged, text);
}

void WarnNotQuiet(const Timeline& t, double ratio, Diagnostics& diag) {
  std::string text = t.input.empty() ? "the built-in signal" : "'" + t.input + "'";
  text += " line " + std::to_string(t.settings.TVLine);
  if (t.field >= 0) text += std::string(" (") + FieldName(t.field) + " field)";
  char b[64];
  std::snprintf(b, sizeof b, "%.0f", ratio);
  // Said, not counted: the figures are still what the line gives, and the verdict stands.
  diag.Stream() << "lineview: warning: " << text << " is not a quiet line: its measuring interval carries picture (a "
                << b << " times wider spread than its noise), so the SNR measures the picture; measure on a quiet line: "
                   "a black or grey line in the picture's border, a VBI line or a test line (--line, --tv-line)\n";
}

void WarnAtFloor(const Timeline& t, double db, Diagnostics& diag) {
  if (!t.method.Luma() || !(db >= t.method.floorDb - 3.0)) return;
  std::string text = t.input.empty() ? "the built-in signal" : "'" + t.input + "'";
  text += " line " + std::to_string(t.settings.TVLine);
  char b[160];
  std::snprintf(b, sizeof b, ": %.2f dB %s is at the %d-bit floor: the capture cannot show less noise (rounding alone reads %.2f dB)",
                db, SnrMethodName(t.method.kind), t.method.bits, t.method.floorDb);
  diag.Stream() << "lineview: warning: " << text << b << '\n';
}
