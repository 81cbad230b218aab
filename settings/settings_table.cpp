#include "settings/settings_table.h"

namespace {

struct TableEntry {
  const char* key;
  int32_t defaultValue;
};

// Keys and defaults in the order of AnalysisSettings and of the file.
constexpr TableEntry kEntries[kSettingCount] = {
    {"TVLine", 100},       {"ColorMode", 0},      {"RColor", 1},         {"GColor", 1},
    {"BColor", 1},         {"YColor", 1},         {"UColor", 1},         {"VColor", 1},
    {"Mode", 0},           {"WhiteLevel", 235},   {"BlackLevel", 16},    {"StartCount", 50},
    {"StopCount", 950},    {"FFTSensitivity", 40}, {"FFTDiagMode", 0},   {"WindowFunction", 2},
    {"LevDiagMode", 1},
};

// Whole, field by field, as the frame path reads the live copy.
void CopySettings(const AnalysisSettings& from, AnalysisSettings& to) {
  const int32_t* src = &from.TVLine;
  int32_t* dst = &to.TVLine;
  for (int i = 0; i < kSettingCount; ++i) StoreSetting(dst[i], src[i]);
}

}  // namespace

AnalysisSettings DefaultSettings() {
  AnalysisSettings s{};
  int32_t* field = &s.TVLine;
  for (int i = 0; i < kSettingCount; ++i) field[i] = kEntries[i].defaultValue;
  return s;
}

void MakeSettingsTable(AnalysisSettings& storedSettings, SettingRecord (&table)[kSettingCount]) {
  int32_t* field = &storedSettings.TVLine;
  for (int i = 0; i < kSettingCount; ++i)
    table[i] = SettingRecord{SettingInt, kEntries[i].key, field + i, kEntries[i].defaultValue};
}

bool LoadSettingsSequence(IniStore& store, AnalysisSettings& storedSettings, AnalysisSettings& liveSettings,
                          int32_t& windowX, int32_t& windowY) {
  try {
    // A file that cannot be opened leaves every lookup failing: all defaults.
    const bool opened = store.Open(false);
    store.ReadLong(kSettingsSection, kWindowXKey, &windowX, kNoWindowPosition);
    store.ReadLong(kSettingsSection, kWindowYKey, &windowY, kNoWindowPosition);
    SettingRecord table[kSettingCount];
    MakeSettingsTable(storedSettings, table);
    store.LoadTable(kSettingsSection, table, kSettingCount);
    CopySettings(storedSettings, liveSettings);
    store.Close();
    return opened;
  } catch (...) {
    // Out of memory halfway: what was read cannot be trusted.
    AbandonSettingsLoad(store, storedSettings, liveSettings, windowX, windowY);
    return false;
  }
}

void AbandonSettingsLoad(IniStore& store, AnalysisSettings& storedSettings, AnalysisSettings& liveSettings,
                         int32_t& windowX, int32_t& windowY) {
  store.AbandonLoad();
  storedSettings = DefaultSettings();
  CopySettings(storedSettings, liveSettings);
  windowX = windowY = kNoWindowPosition;
}

bool SaveSettingsSequence(IniStore& store, AnalysisSettings& storedSettings, const AnalysisSettings& liveSettings,
                          int32_t windowX, int32_t windowY) {
  if (store.ReadOpenFailed()) return false;
  if (!store.OpenForWrite()) return false;
  store.WriteSection(kSettingsSection);
  store.WriteInt(kWindowXKey, windowX);
  store.WriteInt(kWindowYKey, windowY);
  storedSettings = SnapshotSettings(liveSettings);
  SettingRecord table[kSettingCount];
  MakeSettingsTable(storedSettings, table);
  store.StoreTable(table, kSettingCount);
  return store.Close();
}
