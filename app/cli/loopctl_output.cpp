#include "loopctl_output.h"

#include <cstdio>
#include <sstream>

#include "config_names.h"
#include "frame_judge.h"
#include "loopctl_options.h"
#include "system_error.h"

void PrintJson(const Json &j) {
    // A device path is the system's bytes, not always UTF-8; a replaced byte
    // beats an output that is lost whole.
    std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

int ReportOutputFailure(int err) {
    static bool reported = false;
    if (!reported)
        std::fprintf(stderr, "loopctl: cannot write the output: %s\n", ErrorText(err).c_str());
    reported = true;
    return kExitSystem;
}

void DescribeAnswer(const ResponseOutcome &out, bool withResult, Json &j, std::string &text) {
    std::ostringstream lines;
    j["result"] = ResultText(out);
    if (out.hasAdc) {
        j["ch1"] = out.ch1;
        j["ch2"] = out.ch2;
        lines << "CH.1   " << out.ch1 << "\nCH.2   " << out.ch2 << "\n";
    }
    if (out.hasConfig) {
        lines << "       ADC Reference    Display Value\n"
              << "         Min     Max      Min     Max\n";
        for (int ch = 0; ch < 2; ++ch) {
            Json values;
            char line[64];
            int n = std::snprintf(line, sizeof line, "CH.%d", ch + 1);
            for (int i = 0; i < 4; ++i) {
                values[kConfigNames[ch * 4 + i].name] = out.config[ch * 4 + i];
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s%6u",
                                   i == 2 ? "   " : "  ", out.config[ch * 4 + i]);
            }
            j[kConfigNames[ch * 4].channel] = values;
            lines << line << "\n";
        }
    }
    if (withResult) lines << out.text << "\n";
    if (out.hasExtra) {
        j["extra"] = out.extra;
        lines << "extra  " << out.extra << "\n";
    }
    text = lines.str();
}

std::string JoinedLine(std::string text, const std::string &error) {
    if (!error.empty()) text += "error: " + error;
    for (size_t at; (at = text.find('\n')) != std::string::npos;)
        text.replace(at, 1, at + 1 < text.size() ? "  " : "");
    return text;
}

namespace {

// Length of the well-formed UTF-8 sequence at s[at], 0 when there is none.
size_t Utf8Length(const std::string &s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    size_t n;
    unsigned min;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (at + n > s.size()) return 0;
    unsigned code = lead & (0x7Fu >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return n;
}

}  // namespace

std::string EscapedLine(const std::string &text) {
    std::string line;
    for (size_t at = 0; at < text.size();) {
        const size_t n = Utf8Length(text, at);
        const auto c = static_cast<unsigned char>(text[at]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            line += escaped;
            ++at;
        } else {
            line.append(text, at, n);
            at += n;
        }
    }
    return line;
}
