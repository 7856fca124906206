// UTF-8 inside, UTF-16 at every Windows call: the conversions between them.
// Only Windows twins include this.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::wstring_view text);
