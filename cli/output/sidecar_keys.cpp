#include "cli/output/sidecar_keys.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/common/names.h"

std::string LinePrefix(const std::string& name) { return name.empty() ? "lineview." : "lineview.line" + name + "."; }

char ChannelLetter(const Timeline& t, int c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(t.channelNames[c][0])));
}

namespace {

constexpr const char* kMethod = "lineview.snr_method";

std::string Value(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

// The tag's number, or `otherwise` where it is missing or not a finite number.
double NumberOf(const std::map<std::string, std::string>& tags, const char* key, double otherwise) {
  auto it = tags.find(std::string(kMethod) + "." + key);
  if (it == tags.end()) return otherwise;
  char* end = nullptr;
  const double v = std::strtod(it->second.c_str(), &end);
  return end != it->second.c_str() && *end == '\0' && std::isfinite(v) ? v : otherwise;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SnrMethodTags(const SnrMethod& m) {
  std::vector<std::pair<std::string, std::string>> tags = {{kMethod, SnrMethodName(m.kind)}};
  if (!m.Luma()) return tags;
  const std::string p = std::string(kMethod) + ".";
  tags.insert(tags.end(), {{p + "low_hz", Value(m.band.lowHz)}, {p + "high_hz", Value(m.band.highHz)},
                           {p + "weighting", m.band.weighted ? "unified" : "none"},
                           {p + "tau_ns", Value(m.band.tauSeconds * 1e9)}, {p + "a", Value(m.band.a)},
                           {p + "reference", Value(m.reference)}, {p + "bits", std::to_string(m.bits)},
                           {p + "sample_rate_hz", Value(m.band.sampleRateHz)}, {p + "first", std::to_string(m.first)},
                           {p + "last", std::to_string(m.last)}, {p + "interval_us_start", Value(m.intervalUs[0])},
                           {p + "interval_us_stop", Value(m.intervalUs[1])}, {p + "floor_db", Value(m.floorDb)}});
  return tags;
}

SnrMethod SnrMethodOf(const std::map<std::string, std::string>& tags) {
  SnrMethod m;
  auto it = tags.find(kMethod);
  for (const NamedCode& n : kSnrMethodNames) {
    if (it != tags.end() && it->second == n.name) m.kind = n.code;
  }
  if (!m.Luma()) return m;
  m.band.lowHz = NumberOf(tags, "low_hz", m.band.lowHz);
  m.band.highHz = NumberOf(tags, "high_hz", m.band.highHz);
  m.band.weighted = m.kind == SnrWeighted;
  m.band.tauSeconds = NumberOf(tags, "tau_ns", 245) * 1e-9;
  m.band.a = NumberOf(tags, "a", m.band.a);
  m.bits = static_cast<int>(std::fmin(std::fmax(NumberOf(tags, "bits", 8), 1), 16));
  m.reference = NumberOf(tags, "reference", NominalAmplitude(m.bits, false));
  m.band.sampleRateHz = NumberOf(tags, "sample_rate_hz", m.band.sampleRateHz);
  m.first = static_cast<int>(NumberOf(tags, "first", 0));
  m.last = static_cast<int>(NumberOf(tags, "last", -1));
  m.intervalUs[0] = NumberOf(tags, "interval_us_start", 0);
  m.intervalUs[1] = NumberOf(tags, "interval_us_stop", 0);
  m.floorDb = NumberOf(tags, "floor_db", NAN);
  return m;
}

std::vector<std::pair<std::string, std::string>> ThresholdTags(const Thresholds& limits) {
  std::vector<std::pair<std::string, std::string>> tags;
  if (!std::isnan(limits.minSnr)) tags.push_back({"lineview.min_snr", Value(limits.minSnr)});
  if (limits.maxDropped >= 0) tags.push_back({"lineview.max_dropped", std::to_string(limits.maxDropped)});
  if (limits.maxDamaged >= 0) tags.push_back({"lineview.max_damaged", std::to_string(limits.maxDamaged)});
  tags.push_back({"lineview.flag_gap", Value(limits.flagGap)});
  tags.push_back({"lineview.min_duration", Value(limits.minDuration)});
  return tags;
}

std::vector<std::pair<std::string, std::string>> VerdictTags(const Timeline& t, const Thresholds& limits,
                                                             const std::string& prefix) {
  const Verdict v = Judge(t, limits);
  std::vector<std::pair<std::string, std::string>> tags = {{prefix + "verdict", VerdictName(v)}};
  for (size_t i = 0; i < v.segments.size(); ++i) {
    const Segment& g = v.segments[i];
    const std::string s = prefix + "segment." + std::to_string(i + 1) + ".";
    tags.insert(tags.end(), {{s + "start", Value(g.start)}, {s + "end", Value(g.end)}, {s + "duration", Value(g.duration)},
                             {s + "first_frame", std::to_string(g.firstFrame)},
                             {s + "last_frame", std::to_string(g.lastFrame)}, {s + "worst", Value(g.worst)},
                             {s + "mean", Value(g.mean)}, {s + "channel", t.channelNames[g.channel % 3]}});
  }
  return tags;
}

const char* RunningKey(const SnrMethod& m) { return m.Luma() ? "snr1s" : "snr50"; }

std::string SidecarPath(const std::string& input, const std::string& dir) {
  std::string name = input.empty() ? "builtin" : input == "-" ? "stdin" : input;
  // Nothing can be written beside stdin, the built-in signal or a URL: they go to the folder
  // named, else the current one.
  if (!dir.empty() || input.empty() || input == "-" || input.find("://") != std::string::npos) {
    name = name.substr(name.find_last_of('/') + 1);
    return (dir.empty() ? std::string() : dir + "/") + name + kSidecarSuffix;
  }
  return name + kSidecarSuffix;
}

std::string SignatureText(const FrameSignature& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t v : s.block) text += kHex[v >> 4], text += kHex[v & 15];
  return text;
}

bool ParseSignature(const std::string& text, FrameSignature* s) {
  if (text.size() != 2 * kSignatureBlocks) return false;
  for (int k = 0; k < kSignatureBlocks; ++k) {
    int v = 0;
    for (char c : {text[2 * k], text[2 * k + 1]}) {
      const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    s->block[k] = static_cast<uint8_t>(v);
  }
  s->valid = true;
  return true;
}
