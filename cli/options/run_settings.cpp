#include "cli/options/run_settings.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "cli/common/names.h"
#include "settings/ini_store.h"
#include "settings/settings_table.h"

namespace {

std::string Format(const char* fmt, double a, double b = 0.0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

bool IsFlag(int32_t v) { return v == 0 || v == 1; }

void WarnRanges(const AnalysisSettings& s, Diagnostics& diag) {
  if (!IsFlag(s.ColorMode)) {
    diag.Warn(kExitSettingOutOfRange,
              "colour mode " + std::to_string(s.ColorMode) + " is neither 0 (RGB) nor 1 (YUV): RGB is used");
  }
  const struct {
    const char* name;
    int32_t value;
  } flags[] = {{"RColor", s.RColor}, {"GColor", s.GColor}, {"BColor", s.BColor},
               {"YColor", s.YColor}, {"UColor", s.UColor}, {"VColor", s.VColor}};
  for (const auto& f : flags) {
    if (!IsFlag(f.value)) {
      diag.Warn(kExitSettingOutOfRange, std::string(f.name) + " " + std::to_string(f.value) +
                                            " is neither 0 nor 1: the channel's trace is hidden");
    }
  }
  int white = 0, black = 0;
  ClampReferenceLevels(s.WhiteLevel, s.BlackLevel, &white, &black);
  if (white != s.WhiteLevel || black != s.BlackLevel) {
    diag.Warn(kExitSettingOutOfRange, "levels " + std::to_string(s.BlackLevel) + ":" + std::to_string(s.WhiteLevel) +
                                          " are outside 0..255 or inverted: " + std::to_string(black) + ":" +
                                          std::to_string(white) + " is used");
  }
  int start = 0, stop = 0;
  ClampMeasuringInterval(s.StartCount, s.StopCount, &start, &stop);
  if (start != s.StartCount || stop != s.StopCount) {
    diag.Warn(kExitSettingOutOfRange,
              "interval " + Format("%.1f:%.1f", s.StartCount * 0.1, s.StopCount * 0.1) +
                  " % is outside 0..100 or inverted: " + Format("%.1f:%.1f", start * 0.1, stop * 0.1) + " % is used");
  }
  if (ClampSensitivity(s.FFTSensitivity) != s.FFTSensitivity) {
    diag.Warn(kExitSettingOutOfRange, "sensitivity " + std::to_string(s.FFTSensitivity) + " dB is outside 10..110: " +
                                          std::to_string(ClampSensitivity(s.FFTSensitivity)) + " dB is used");
  }
  if (s.WindowFunction < WindowNone || s.WindowFunction > WindowBlackman) {
    diag.Warn(kExitSettingOutOfRange, "window function " + std::to_string(s.WindowFunction) +
                                          " is not one of 0..3: the spectrum is computed without a window");
  }
  if (s.FFTDiagMode < 0 || s.FFTDiagMode > 2) {
    diag.Warn(kExitSettingOutOfRange, "spectrum style " + std::to_string(s.FFTDiagMode) +
                                          " is not one of 0..2: the spectrum page draws no trace");
  }
  if (s.LevDiagMode < 0 || s.LevDiagMode > 2) {
    diag.Warn(kExitSettingOutOfRange, "levels style " + std::to_string(s.LevDiagMode) +
                                          " is not one of 0..2: the levels page draws no trace");
  }
}

// The settings file is only ever read here: every open is read-only, so a file of mode 0444 or
// another user's readable file is read, and nothing is created, replaced or removed.
std::FILE* OpenReadOnly(const std::string& path, FileOpen) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}
bool NeverReplace(const std::string&, const std::string&) { return false; }
void NeverRemove(const std::string&) {}
bool NeverSync(std::FILE*) { return false; }
const IniFileSystem kReadOnlyFiles = {OpenReadOnly, NeverReplace, NeverRemove, NeverSync};

// Reads the settings file the way the plug-in does; false when it cannot be read.
bool LoadSettingsFile(const std::string& path, AnalysisSettings* settings, Diagnostics& diag) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    diag.Warn(kExitSettingsUnreadable,
              "cannot read settings file '" + path + "': " + std::strerror(errno) + "; using the defaults");
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    diag.Warn(kExitSettingsUnreadable, "settings file '" + path + "' is not a file; using the defaults");
    return false;
  }
  // The store names its file base name + ".ini", as beside the DLL.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (file.size() <= 4 || strcasecmp(file.c_str() + file.size() - 4, ".ini") != 0) {
    diag.Warn(kExitSettingsUnreadable, "settings file '" + path + "' does not end in .ini; using the defaults");
    return false;
  }
  IniStore store;
  store.SetFileSystem(&kReadOnlyFiles);
  store.SetLocation(folder, file.substr(0, file.size() - 4));
  AnalysisSettings stored{};
  int32_t windowX = 0, windowY = 0;
  if (!LoadSettingsSequence(store, stored, *settings, windowX, windowY)) {
    diag.Warn(kExitSettingsUnreadable, "cannot read settings file '" + path + "'; using the defaults");
    *settings = DefaultSettings();
    return false;
  }
  return true;
}

}  // namespace

RunSettings ResolveSettings(const CliOptions& o, Diagnostics& diag) {
  RunSettings r;
  r.settings = DefaultSettings();
  if (!o.settingsPath.empty()) LoadSettingsFile(o.settingsPath, &r.settings, diag);

  AnalysisSettings& s = r.settings;
  // The first line a run names is the one the settings carry (the live window's first).
  if (!o.lines.numbers.empty() && !o.lines.tvLines && o.lines.field == FieldChoice::None) {
    s.TVLine = o.lines.numbers.front();
  }
  if (o.colorMode) s.ColorMode = *o.colorMode;
  if (o.window) s.WindowFunction = *o.window;
  if (o.sensitivity) s.FFTSensitivity = *o.sensitivity;
  if (o.style) s.FFTDiagMode = s.LevDiagMode = *o.style;
  // Out-of-range numbers are saturated only to stay inside int32; the range warning follows.
  auto toInt = [](double v) { return static_cast<int32_t>(std::lround(std::clamp(v, -1e9, 1e9))); };
  if (o.interval) {
    s.StartCount = toInt(o.interval->first * 10.0);
    s.StopCount = toInt(o.interval->second * 10.0);
  }
  if (o.levels) {
    s.BlackLevel = toInt(o.levels->first);
    s.WhiteLevel = toInt(o.levels->second);
  }

  if (o.page == "all") {
    for (const NamedCode& p : kPageNames) r.pages.push_back(p.code);
  } else if (!o.page.empty()) {
    for (const NamedCode& p : kPageNames) {
      if (o.page == p.name) r.pages = {p.code};
    }
  } else if (s.Mode >= ModeOscilloscope && s.Mode <= ModeLevels) {
    r.pages = {s.Mode};
  } else {
    diag.Warn(kExitSettingOutOfRange, "page " + std::to_string(s.Mode) + " is not one of 0..2: no page is drawn");
  }
  if (!r.pages.empty()) s.Mode = r.pages.front();
  WarnRanges(s, diag);
  return r;
}

void CheckLine(const AnalysisSettings& s, int height, Diagnostics& diag) {
  if (height < 1) return;
  if (s.TVLine >= height || s.TVLine < 0) {
    const int used = std::clamp(s.TVLine, 0, height - 1);
    diag.Warn(kExitLineClamped, "line " + std::to_string(s.TVLine) + " is outside the frame's " +
                                    std::to_string(height) + " lines: line " + std::to_string(used) + " is used");
  }
}

std::string SettingsBlock(const CliOptions& options, const RunSettings& rs) {
  AnalysisSettings copy = rs.settings;
  SettingRecord table[kSettingCount];
  MakeSettingsTable(copy, table);
  std::string text = options.analysisArgs + "|";
  for (const SettingRecord& r : table) text += std::string(r.key) + "=" + std::to_string(*static_cast<int32_t*>(r.value)) + ";";
  return text;
}
