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

std::string UniqueSidecarPath(const std::string& input, const std::string& dir, std::set<std::string>& used) {
  const std::string path = SidecarPath(input, dir);
  const std::string stem = path.substr(0, path.size() - std::strlen(kSidecarSuffix));
  std::string unique = path;
  for (int n = 2; !used.insert(unique).second; ++n) unique = stem + "-" + std::to_string(n) + kSidecarSuffix;
  return unique;
}
