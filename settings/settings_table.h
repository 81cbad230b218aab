// The table of the 17 persisted analysis settings and the load and save sequences of the
// settings file. Portable: the caller locates the file and passes the state explicitly.
#pragma once
#include <cstdint>

#include "records/analysis_settings.h"
#include "settings/ini_store.h"

constexpr const char* kSettingsSection = "PluginSettings";
constexpr const char* kWindowXKey = "DlgWndPosX";
constexpr const char* kWindowYKey = "DlgWndPosY";
constexpr int32_t kNoWindowPosition = -100;

// Every setting at its table default: what a load without a settings file yields.
AnalysisSettings DefaultSettings();

// The 17 records in file order, each a signed 32-bit value pointing into `storedSettings`.
void MakeSettingsTable(AnalysisSettings& storedSettings, SettingRecord (&table)[kSettingCount]);

// Opens the located file (creating it empty when absent), reads the window position and the
// table into storedSettings, copies them whole into liveSettings, closes. Anything not found
// takes its default. Returns whether the file could be read. Any failure on the way (memory
// running out) leaves every setting at its default and the store closed as unreadable, so the
// save that follows writes nothing.
bool LoadSettingsSequence(IniStore& store, AnalysisSettings& storedSettings, AnalysisSettings& liveSettings,
                          int32_t& windowX, int32_t& windowY);

// What a load that could not finish leaves: every setting and the window position at their
// defaults, and the store closed as unreadable, so the save that follows writes nothing over
// a file whose values were never seen.
void AbandonSettingsLoad(IniStore& store, AnalysisSettings& storedSettings, AnalysisSettings& liveSettings,
                         int32_t& windowX, int32_t& windowY);

// Rewrites the file with exactly the section header, the window position and the 17 settings
// copied from liveSettings through storedSettings. Nothing is written when the file cannot be
// opened for writing, or when the last load could not open it (it may belong to someone else).
// Returns whether the file was written.
bool SaveSettingsSequence(IniStore& store, AnalysisSettings& storedSettings, const AnalysisSettings& liveSettings,
                          int32_t windowX, int32_t windowY);
