// Where the settings file lies, on Windows.
#pragma once
#include <windows.h>

#include <string>

#include "settings/ini_store.h"

// Sets the store's folder, base name, file name and full path for the module `module`:
// "<application data>\Kestrova\Plugins\" on the NT family when HKLM "SOFTWARE\Kestrova"
// value "StoreInUsersFolder" is non-zero, else the module's own folder; file name = module
// base name + ".ini". Every path is resolved through the wide (UTF-16) functions and handed to
// the store as UTF-8, so folder names outside the ANSI code page work. Leaves the path fields
// empty when no path can be made.
void Locate(IniStore& store, HMODULE module);
