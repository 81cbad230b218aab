// The 17 persisted settings, in the order of the settings file, and the indices every room
// shares (channels, pages). Depends on nothing, so analysis, settings and the windows can all use it.
#pragma once
#include <cstdint>

struct AnalysisSettings {
  int32_t TVLine;
  int32_t ColorMode;
  int32_t RColor;
  int32_t GColor;
  int32_t BColor;
  int32_t YColor;
  int32_t UColor;
  int32_t VColor;
  int32_t Mode;
  int32_t WhiteLevel;
  int32_t BlackLevel;
  int32_t StartCount;
  int32_t StopCount;
  int32_t FFTSensitivity;
  int32_t FFTDiagMode;
  int32_t WindowFunction;
  int32_t LevDiagMode;
};
static_assert(sizeof(AnalysisSettings) == 17 * 4);

constexpr int kSettingCount = 17;

// The window thread writes single fields of the live settings without the lock while the
// frame thread reads them: each access is one whole aligned 32-bit load or store.
inline int32_t LoadSetting(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
inline void StoreSetting(int32_t& field, int32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELAXED); }

// A consistent-enough copy for one frame: each field read exactly once.
inline AnalysisSettings SnapshotSettings(const AnalysisSettings& live) {
  AnalysisSettings s;
  const int32_t* src = &live.TVLine;
  int32_t* dst = &s.TVLine;
  for (int i = 0; i < kSettingCount; ++i) dst[i] = LoadSetting(src[i]);
  return s;
}

enum ChannelIndex { ChannelR = 0, ChannelG, ChannelB, ChannelY, ChannelU, ChannelV, ChannelCount };

enum PageMode { ModeOscilloscope = 0, ModeSpectrum = 1, ModeLevels = 2 };
