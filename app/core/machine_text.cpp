#include "machine_text.h"

#include <charconv>
#include <cmath>

void AppendFixed(std::string &out, double value, int decimals) {
    // A value that rounds to zero is written without its sign.
    const double scale = std::pow(10.0, decimals);
    if (std::round(value * scale) == 0) value = 0;
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (ec == std::errc()) out.append(text, end);
}

std::string FixedText(double value, int decimals) {
    std::string text;
    AppendFixed(text, value, decimals);
    return text;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}
