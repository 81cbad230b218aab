// The DLL's own module handle and module-wide state, for the Windows edges.
#pragma once
#include <windows.h>

#include "plugin/analysis_state.h"

// The plug-in's own HINSTANCE: templates, bitmaps and GetModuleFileNameW use it, never NULL
// (which would mean the host's executable).
HINSTANCE PluginModuleHandle();

// The one analysis state of the loaded plug-in.
AnalysisState& PluginState();
