// Whole-file reads and crash-safe replacement, for small text files such as
// the settings. Failures leave errno set to say why.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Failures are told with ErrorText, which every user of these needs.
#include "system_error.h"

// errno after ReadWholeFile of a path that is there but is neither a
// regular file nor a folder (a pipe, a device): it is not read, since it
// could keep the reader waiting for ever. ErrorText names it.
inline constexpr int kNotARegularFile = 0x10001;
// errno when another program holds the file open and will not share it
// (Windows): not a matter of permissions, and over once that program lets go.
inline constexpr int kFileInUse = 0x10002;

// Reads a regular file (or what a link names) whole into out. False when it
// is missing, not a regular file, unreadable, or longer than limit bytes
// (errno EFBIG, and out holds nothing: a file of a few hundred bytes that
// turns out huge must not take the program's memory); opening it never blocks.
bool ReadWholeFile(const std::string &path, std::string &out, size_t limit = SIZE_MAX);

// Gives path the new contents so that a crash, a full disk or a failed write
// leaves either the old file or the new one, never a mix, and no temporary
// file behind. A symbolic link is followed: its target is replaced and the
// link kept. The file's permission bits are kept, and honoured: a file that
// nobody may write is refused (EACCES) and left as it is.
bool ReplaceFileContents(const std::string &path, std::string_view contents);
