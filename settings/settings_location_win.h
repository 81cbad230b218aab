// Where the settings file lies, on Windows.
#pragma once
#include <windows.h>

#include "settings/ini_store.h"

// Sets the store's folder, base name, file name and full path for the module `module`:
// "<application data>\Kestrova\Plugins\" on the NT family when HKLM "SOFTWARE\Kestrova"
// value "StoreInUsersFolder" is non-zero, else the module's own folder; file name = module
// base name + ".ini". Leaves the path fields empty when no path can be made. Also gives the
// store an atomic file replace for its saves.
void Locate(IniStore& store, HMODULE module);

// Moves `from` over `to` in one step (the old file stays whole until then).
bool ReplaceSettingsFile(const char* from, const char* to);
