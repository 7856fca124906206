// The system's own words for its failures, one line of UTF-8 each, so that
// files, sockets and ports tell a person the same thing for the same error.
#pragma once

#include <cstdint>
#include <string>

// The text of an errno value (and of the platform's kNotARegularFile).
std::string ErrorText(int code);

// The text of the system's own error number: errno on POSIX, GetLastError's
// or Winsock's on Windows (from the message table, in the user's language
// where it has one). Empty when the system has no text for it.
std::string SystemErrorText(uint32_t code);
