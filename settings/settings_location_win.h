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
// empty when no path can be made. Also gives the store the file operations of
// kWindowsSettingsFiles.
void Locate(IniStore& store, HMODULE module);

// The store's portable files, with ReplaceSettingsFile as the replace.
extern const IniFileSystem kWindowsSettingsFiles;

// Moves `from` over `to` in one step (the old file stays whole until then), keeping `to`'s
// attributes (hidden, system, not indexed...). Refuses a read-only `to`. Paths are UTF-8.
bool ReplaceSettingsFile(const std::string& from, const std::string& to);

// UTF-16 <-> UTF-8; empty for text that does not convert (an unpaired surrogate, bad UTF-8).
std::string Utf8FromWide(const std::wstring& wide);
std::wstring WideFromUtf8(const std::string& utf8);
