// "config.ini" beside the program: an INI file read and written with
// private-profile semantics (section and key matched without regard to case,
// everything else kept), replaced atomically on every write.
#pragma once

#include <string>
#include <string_view>

inline constexpr char kSettingsFileName[] = "config.ini";
inline constexpr char kSettingsSection[] = "Data";
inline constexpr char kSettingsComKey[] = "Com";

// The running program's directory (from /proc/self/exe) plus "config.ini".
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
int ReadComPort(const std::string &path);
// Stores the port number formatted with "%d".
bool WriteComPort(const std::string &path, int port);
