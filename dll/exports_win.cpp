// The two exports, the descriptor and its six callbacks: the whole boundary with the host.
// Nothing throws across it and no callback fails the host.
#include <windows.h>

#include "dll/plugin_module_win.h"
#include "plugin/analysis_state.h"
#include "plugin/host_contract.h"
#include "settings/settings_location_win.h"
#include "settings/settings_table.h"
#include "ui/analyzer_dialog_win.h"

#include <new>

namespace {

HINSTANCE g_module = nullptr;

// "Анализатор TV-строки" in Windows-1251, the code page the host reads it in.
const char kDescriptorName[] = "\xC0\xED\xE0\xEB\xE8\xE7\xE0\xF2\xEE\xF0 TV-\xF1\xF2\xF0\xEE\xEA\xE8";
const char kExtraText[] = "";

// Everything a load of the library starts afresh. Built at load, and built again when a host
// starts a new session after Shutdown on a module that stayed mapped (pinned by a modal loop).
struct Session {
  AnalysisState state;
  IniStore settingsStore;  // constructed empty: no file is touched under the loader lock
  MeasurementList measurements;  // outlives every window: a reopened window shows its count
  // The one tool window object (it looks up the host's main window when built); its window
  // exists only between OpenToolWindow and the window's destruction.
  AnalyzerDialog toolWindow{state, measurements};
};
Session g_session;
bool g_sessionEnded = false;  // Shutdown ran: the next session starts from a fresh load's state

// A host that unloads the library from inside one of its modal loops leaves it mapped (see
// KeepModuleLoaded), so its next LoadLibrary gets this module back without a fresh start.
void StartSessionIfEnded() {
  if (!g_sessionEnded) return;
  g_sessionEnded = false;
  ReleaseStateBuffers(g_session.state);
  g_session.~Session();
  new (&g_session) Session();
}

// Reads the settings file into the analysis state.
void PluginLoadSettings() {
  AnalysisState& state = g_session.state;
  Locate(g_session.settingsStore, PluginModuleHandle());
  LoadSettingsSequence(g_session.settingsStore, state.storedSettings, state.liveSettings, state.windowX,
                       state.windowY);
}

// Writes the settings file from the analysis state.
void PluginSaveSettings() {
  AnalysisState& state = g_session.state;
  SaveSettingsSequence(g_session.settingsStore, state.storedSettings, state.liveSettings, state.windowX,
                       state.windowY);
}

void LV_CDECL LoadSettings() {
  try {
    StartSessionIfEnded();
    PluginLoadSettings();
  } catch (...) {
    AnalysisState& state = g_session.state;  // locating the file ran out of memory
    AbandonSettingsLoad(g_session.settingsStore, state.storedSettings, state.liveSettings, state.windowX,
                        state.windowY);
  }
}

int LV_CDECL Configure(const FrameFormat* format) {
  try {
    if (format != nullptr) {
      ConfigureState(g_session.state, *format);
      // An open window takes the new TV-line range and the clamped line from the notice.
      g_session.toolWindow.PostNotify(kNoticeFormat);
    }
  } catch (...) {
  }
  return 1;
}

int LV_CDECL ProcessFrame(FrameInfo* frame) {
  try {
    if (frame != nullptr) ProcessFrameState(g_session.state, *frame, &g_session.toolWindow);
  } catch (...) {
  }
  return 1;
}

void LV_CDECL ReleaseBuffers() { ReleaseStateBuffers(g_session.state); }

void LV_CDECL OpenToolWindow(void* hostWindow) {
  try {
    HWND host = hostWindow != nullptr ? *static_cast<HWND*>(hostWindow) : nullptr;
    g_session.toolWindow.Open(g_module, host);
  } catch (...) {
  }
}

void LV_CDECL Shutdown() {
  try {
    g_session.toolWindow.Destroy();  // stores the window's final position first
    PluginSaveSettings();
  } catch (...) {
  }
  g_sessionEnded = true;
}

const PluginDescriptor g_descriptor = {kDescriptorName, kExtraText, LoadSettings,   Configure,
                                       ProcessFrame,    ReleaseBuffers, OpenToolWindow, Shutdown};

}  // namespace

HINSTANCE PluginModuleHandle() { return g_module; }
AnalysisState& PluginState() { return g_session.state; }

extern "C" {

int LV_CDECL Kestrova_Plugin_Version() { return kPluginContractVersion; }

// The host only reads the descriptor; the contract's pointer is not const.
PluginDescriptor* LV_CDECL Kestrova_Plugin_PR() {
  try {
    StartSessionIfEnded();
  } catch (...) {
  }
  return const_cast<PluginDescriptor*>(&g_descriptor);
}

// Runs under the loader lock: remember the module, nothing else.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

}  // extern "C"
