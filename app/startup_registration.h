#pragma once
// Starting at logon: the "Corvane" value under the user's Run key. A Startup-folder shortcut
// "Corvane.lnk" counts as the same registration but is only ever deleted.
#include <string>

std::wstring ModulePath();
// The value's data; empty when the key or value is missing, too long, or not a string.
std::wstring ReadRunValue();
std::wstring StartupShortcutPath();
bool StartupShortcutExists();
// Writes (quoted path of this executable) or deletes the value; true when the registry now says
// what was asked. Removes the shortcut either way.
bool SetStartWithWindows(bool enable);
// At start: a registered program drops its shortcut and points the value at this executable.
void SyncStartWithWindows();
