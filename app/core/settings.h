// "config.ini": an INI file read and written with private-profile semantics
// (section and key matched without regard to case, everything else kept),
// replaced atomically when its text changes. It lives beside the program
// when the program is not installed and its folder can be written (a build
// folder, an unpacked zip); an installed program keeps it in the user's
// settings folder whoever runs it, root too, with the file beside the
// program, if any, as the default.
#pragma once

#include <string>
#include <string_view>

inline constexpr char kSettingsFileName[] = "config.ini";
inline constexpr char kSettingsSection[] = "Data";
inline constexpr char kSettingsComKey[] = "Com";

struct SettingsFiles {
    std::string path;      // read, and written when the port changes
    std::string fallback;  // read when path has no value; empty for none
};

// The rule above, for a program in programFolder (trailing separator).
// Without a user's folder an installed program stores nowhere (path empty).
SettingsFiles ChooseSettingsFiles(const std::string &programFolder, bool installed,
                                  bool programFolderWritable, const std::string &userFolder);
// ChooseSettingsFiles, and the user's folder created when it is the one
// chosen (a folder that cannot be made shows up as a failed store later).
SettingsFiles PrepareSettingsFiles(const std::string &programFolder, bool installed,
                                   bool programFolderWritable, const std::string &userFolder);
// The rule for the running program.
SettingsFiles ProgramSettingsFiles();
// ProgramSettingsFiles().path.
std::string SettingsFilePath();

// Value of key in section, or def when the file, section or key is missing.
// The first of duplicate keys wins.
std::string ReadProfileString(const std::string &path, std::string_view section,
                              std::string_view key, std::string_view def);

// Sets key in section, creating the file, section or key as needed and keeping
// every other line. False (errno kept) when the file cannot be written; the old
// file is then untouched.
bool WriteProfileString(const std::string &path, std::string_view section, std::string_view key,
                        std::string_view value);

// The stored port number, 1 to 30; anything else (missing, 0, 31, abc) gives 1.
// A fallback file gives the value when path has none.
int ReadComPort(const std::string &path, const std::string &fallback = {});
// Stores the port number formatted with "%d".
bool WriteComPort(const std::string &path, int port);
