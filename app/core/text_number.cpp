#include "text_number.h"

#include <climits>
#include <cstring>

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

ParsedNumber ParseLikeAtoi(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t wrapped = 0;
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        wrapped = wrapped * 10u + digit;
        if (!overflow) {
            magnitude = magnitude * 10u + digit;
            overflow = magnitude > (negative ? uint64_t{INT_MAX} + 1 : uint64_t{INT_MAX});
        }
    }
    if (negative) wrapped = 0u - wrapped;
    return {wrapped, overflow, negative};
}

int32_t SaturatingAtoi(std::string_view text) {
    const ParsedNumber n = ParseLikeAtoi(text);
    if (n.overflow) return n.negative ? INT32_MIN : INT32_MAX;
    return static_cast<int32_t>(n.wrapped);
}

uint16_t FieldTextToWord(const char *text) {
    // The field is read with room for 15 characters, so a longer text is cut.
    const size_t length = text ? strnlen(text, 15) : 0;
    return static_cast<uint16_t>(ParseLikeAtoi(std::string_view(text ? text : "", length)).wrapped &
                                 0xFFFFu);
}
