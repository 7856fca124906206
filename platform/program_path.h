// Where the running program lives, so that its files can sit beside it.
#pragma once

#include <string>

// The running program's folder with a trailing separator; empty when the
// system will not say (the files then land in the working directory).
std::string ProgramFolder();

// Whether the program in folder (with its trailing separator) is an
// installed copy, whose folder belongs to the system rather than to whoever
// runs it: on Linux a folder under /usr (/usr/local too) or /opt; on Windows
// a folder that holds the installer's kInstalledMarker.
bool ProgramIsInstalled(const std::string &folder);
inline constexpr char kInstalledMarker[] = "loopset-installed.txt";
