// The two exports, the descriptor and its six callbacks: the whole boundary with the host.
// Nothing throws across it and no callback fails the host.
#include <windows.h>

#include "dll/plugin_module_win.h"
#include "plugin/analysis_state.h"
#include "plugin/host_contract.h"
#include "settings/settings_location_win.h"
#include "settings/settings_table.h"
#include "ui/analyzer_dialog_win.h"

namespace {

HINSTANCE g_module = nullptr;
AnalysisState g_state;
IniStore g_settingsStore;  // constructed empty: no file is touched under the loader lock

// "Анализатор TV-строки" in Windows-1251, the code page the host reads it in.
const char kDescriptorName[] = "\xC0\xED\xE0\xEB\xE8\xE7\xE0\xF2\xEE\xF0 TV-\xF1\xF2\xF0\xEE\xEA\xE8";
const char kExtraText[] = "";

// The one tool window object: built at load (it looks up the host's main window then), its
// window exists only between OpenToolWindow and the window's destruction.
MeasurementList g_measurements;  // outlives every window: a reopened window shows its count
AnalyzerDialog g_toolWindow(g_state, g_measurements);

// Reads the settings file into the analysis state.
void PluginLoadSettings() {
  Locate(g_settingsStore, PluginModuleHandle());
  LoadSettingsSequence(g_settingsStore, g_state.storedSettings, g_state.liveSettings, g_state.windowX,
                       g_state.windowY);
}

// Writes the settings file from the analysis state.
void PluginSaveSettings() {
  SaveSettingsSequence(g_settingsStore, g_state.storedSettings, g_state.liveSettings, g_state.windowX,
                       g_state.windowY);
}

void LV_CDECL LoadSettings() {
  try {
    PluginLoadSettings();
  } catch (...) {
  }
}

int LV_CDECL Configure(const FrameFormat* format) {
  try {
    if (format != nullptr) {
      ConfigureState(g_state, *format);
      // An open window takes the new TV-line range and the clamped line from the notice.
      g_toolWindow.PostNotify(kNoticeFormat);
    }
  } catch (...) {
  }
  return 1;
}

int LV_CDECL ProcessFrame(FrameInfo* frame) {
  try {
    if (frame != nullptr) ProcessFrameState(g_state, *frame, &g_toolWindow);
  } catch (...) {
  }
  return 1;
}

void LV_CDECL ReleaseBuffers() { ReleaseStateBuffers(g_state); }

void LV_CDECL OpenToolWindow(void* hostWindow) {
  try {
    HWND host = hostWindow != nullptr ? *static_cast<HWND*>(hostWindow) : nullptr;
    g_toolWindow.Open(g_module, host);
  } catch (...) {
  }
}

void LV_CDECL Shutdown() {
  try {
    g_toolWindow.Destroy();  // stores the window's final position first
    PluginSaveSettings();
  } catch (...) {
  }
}

const PluginDescriptor g_descriptor = {kDescriptorName, kExtraText, LoadSettings,   Configure,
                                       ProcessFrame,    ReleaseBuffers, OpenToolWindow, Shutdown};

}  // namespace

HINSTANCE PluginModuleHandle() { return g_module; }
AnalysisState& PluginState() { return g_state; }

extern "C" {

int LV_CDECL Kestrova_Plugin_Version() { return kPluginContractVersion; }

// The host only reads the descriptor; the contract's pointer is not const.
PluginDescriptor* LV_CDECL Kestrova_Plugin_PR() { return const_cast<PluginDescriptor*>(&g_descriptor); }

// Runs under the loader lock: remember the module, nothing else.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

}  // extern "C"
