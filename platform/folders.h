// Where a program's files can go: the user's own settings folder, and
// whether a folder takes new files.
#pragma once

#include <string>

// The user's settings folder for this program, with a trailing separator:
// $XDG_CONFIG_HOME/loopset/ (~/.config/loopset/ when unset) or
// %APPDATA%\loopset\. Empty when the system names none.
std::string UserSettingsFolder();

// The user's data folder for this program, with a trailing separator:
// $XDG_DATA_HOME/loopset/ (~/.local/share/loopset/ when unset) or
// %APPDATA%\loopset\. Empty when the system names none.
std::string UserDataFolder();

// Whether this user can create files in folder.
bool FolderIsWritable(const std::string &folder);

// Creates folder and any missing parents; false (errno set) when it cannot.
bool CreateFolders(const std::string &folder);
