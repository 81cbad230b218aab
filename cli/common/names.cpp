#include "cli/common/names.h"

#include "analysis/spectrum.h"
#include "records/analysis_settings.h"

const NamedCode kPageNames[3] = {{"scope", ModeOscilloscope}, {"spectrum", ModeSpectrum}, {"levels", ModeLevels}};
const NamedCode kWindowNames[4] = {
    {"none", WindowNone}, {"hamming", WindowHamming}, {"hanning", WindowHanning}, {"blackman", WindowBlackman}};
const NamedCode kStyleNames[3] = {{"outline", 0}, {"fill", 1}, {"points", 2}};
const NamedCode kSnrMethodNames[3] = {{"line", 0}, {"unweighted", 1}, {"weighted", 2}};

namespace {

const char* NameOf(const NamedCode* table, size_t count, int code) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].code == code) return table[i].name;
  }
  return nullptr;
}

}  // namespace

const char* PageName(int mode) {
  const char* name = NameOf(kPageNames, 3, mode);
  return name ? name : "none";
}
const char* WindowName(int window) { return NameOf(kWindowNames, 4, window); }
const char* StyleName(int style) { return NameOf(kStyleNames, 3, style); }
const char* SnrMethodName(int kind) {
  const char* name = NameOf(kSnrMethodNames, 3, kind);
  return name ? name : "line";
}
const char* FieldName(int field) { return field == 1 ? "bottom" : "top"; }

const char* const* ChannelNames(int colorMode) {
  static const char* const kNames[2][3] = {{"R", "G", "B"}, {"Y", "U", "V"}};
  return kNames[colorMode == 1];
}

std::vector<std::pair<std::string, int>> Choices(const NamedCode* table, size_t count) {
  std::vector<std::pair<std::string, int>> out;
  for (size_t i = 0; i < count; ++i) out.emplace_back(table[i].name, table[i].code);
  return out;
}
