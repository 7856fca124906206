// The system's own words for its failures, one line of UTF-8 each, so that
// files, sockets and ports tell a person the same thing for the same error.
#pragma once

#include <cstdint>
#include <string>

// errno values from kSystemErrorBase to kSystemErrorBase + kSystemErrorLast
// carry a system error number that no errno says the same as (Windows's own),
// so that its own text reaches the user rather than a vaguer errno's.
inline constexpr int kSystemErrorBase = 0x20000;
inline constexpr unsigned kSystemErrorLast = 0xFFFF;

// The text of an errno value (and of the platform's kNotARegularFile,
// kFileInUse and system error numbers above).
std::string ErrorText(int code);

// The errno that means what the system's own error number means: the number
// itself on POSIX; on Windows the errno of the same meaning, and where none
// says the same (a sharing violation, a drive not ready) kFileInUse or the
// number itself from kSystemErrorBase up, so that ErrorText tells it.
int ErrnoOf(uint32_t code);

// The text of the system's own error number: errno on POSIX, GetLastError's
// or Winsock's on Windows (from the message table, in the user's language
// where it has one). Empty when the system has no text for it.
std::string SystemErrorText(uint32_t code);
