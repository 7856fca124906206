#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "files.h"
#include "folders.h"
#include "portlink.h"
#include "program_path.h"
#include "text_number.h"

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// One line of the file: its text without the line end, and the line end as
// it stood, so that lines we do not touch are written back byte for byte.
struct Line {
    std::string_view text;
    std::string_view end;
};

std::vector<Line> SplitLines(std::string_view data) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t nl = data.find('\n', pos);
        const size_t stop = nl == std::string_view::npos ? data.size() : nl;
        size_t textEnd = stop;
        if (textEnd > pos && data[textEnd - 1] == '\r') --textEnd;
        lines.push_back({data.substr(pos, textEnd - pos),
                         data.substr(textEnd, (nl == std::string_view::npos ? stop : nl + 1) - textEnd)});
        pos = nl == std::string_view::npos ? data.size() : nl + 1;
    }
    return lines;
}

// A UTF-8 byte order mark belongs to the file, not to its first line's text.
std::string_view WithoutBom(std::string_view text) {
    return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

// "[name]" gives name; anything else gives nothing.
bool SectionName(std::string_view line, std::string_view &name) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') return false;
    const size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

// "key = value" gives key; comments and lines without '=' give nothing.
bool KeyOf(std::string_view line, std::string_view &key, std::string_view &value) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') return false;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return !key.empty();
}

}  // namespace

SettingsFiles ChooseSettingsFiles(const std::string &programFolder, bool installed,
                                  bool programFolderWritable, const std::string &userFolder) {
    const std::string beside = programFolder + kSettingsFileName;
    if (installed) return {userFolder.empty() ? "" : userFolder + kSettingsFileName, beside};
    if (programFolderWritable || userFolder.empty()) return {beside, {}};
    return {userFolder + kSettingsFileName, beside};
}

SettingsFiles PrepareSettingsFiles(const std::string &programFolder, bool installed,
                                   bool programFolderWritable, const std::string &user) {
    SettingsFiles files = ChooseSettingsFiles(programFolder, installed, programFolderWritable, user);
    // A folder that cannot be made shows up as a failed store, which is reported.
    if (!files.fallback.empty() && !user.empty()) CreateFolders(user);
    return files;
}

SettingsFiles ProgramSettingsFiles() {
    const std::string folder = ProgramFolder();
    return PrepareSettingsFiles(folder, ProgramIsInstalled(folder), FolderIsWritable(folder),
                                UserSettingsFolder());
}

std::string SettingsFilePath() {
    return ProgramSettingsFiles().path;
}

std::string ReadProfileString(const std::string &path, std::string_view section,
                              std::string_view key, std::string_view def) {
    std::string data;
    if (!ReadWholeFile(path, data)) return std::string(def);
    bool inSection = false;
    for (const Line &line : SplitLines(WithoutBom(data))) {
        std::string_view name, k, v;
        if (SectionName(line.text, name)) {
            inSection = EqualNoCase(name, section);
        } else if (inSection && KeyOf(line.text, k, v) && EqualNoCase(k, key)) {
            // A value in matching quotes is given without them.
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::string(def);
}

bool WriteProfileString(const std::string &path, std::string_view section, std::string_view key,
                        std::string_view value) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string data;
    if (!ReadWholeFile(path, data)) {
        if (errno != ENOENT) return false;  // there, but unreadable: keep it
        data.clear();
    }
    const bool bom = data.size() != WithoutBom(data).size();
    const std::vector<Line> lines = SplitLines(WithoutBom(data));
    std::string_view eol = "\n";
    if (!lines.empty() && lines.front().end == "\r\n") eol = "\r\n";

    std::string entry;
    entry.append(key).append("=").append(value);

    // Where the key goes: its own line, or after the last non-blank line of
    // the section, or a new section at the end.
    ptrdiff_t replace = -1, insertAfter = -1;
    bool inSection = false;
    for (size_t i = 0; i < lines.size() && replace < 0; ++i) {
        std::string_view name, k, v;
        if (SectionName(lines[i].text, name)) {
            if (inSection) break;
            inSection = EqualNoCase(name, section);
            if (inSection) insertAfter = static_cast<ptrdiff_t>(i);
        } else if (inSection) {
            if (KeyOf(lines[i].text, k, v) && EqualNoCase(k, key)) replace = static_cast<ptrdiff_t>(i);
            else if (!Trim(lines[i].text).empty()) insertAfter = static_cast<ptrdiff_t>(i);
        }
    }

    std::string out;
    out.reserve(data.size() + entry.size() + section.size() + 8);
    if (bom) out.append("\xEF\xBB\xBF");
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto idx = static_cast<ptrdiff_t>(i);
        if (idx == replace) {
            out.append(entry).append(lines[i].end.empty() ? eol : lines[i].end);
            continue;
        }
        out.append(lines[i].text).append(lines[i].end);
        if (replace < 0 && idx == insertAfter) {
            if (lines[i].end.empty()) out.append(eol);
            out.append(entry).append(eol);
        }
    }
    if (insertAfter < 0) {
        if (!out.empty() && out.back() != '\n') out.append(eol);
        out.append("[").append(section).append("]").append(eol).append(entry).append(eol);
    }
    // The same text again is not worth a disk write: the file already says it.
    if (out == data) return true;
    return ReplaceFileContents(path, out);
}

int ReadComPort(const std::string &path, const std::string &fallback) {
    std::string value = ReadProfileString(path, kSettingsSection, kSettingsComKey, "");
    if (value.empty()) {
        value = fallback.empty()
                    ? std::string("1")
                    : ReadProfileString(fallback, kSettingsSection, kSettingsComKey, "1");
    }
    if (value.size() > 511) value.resize(511);  // the value is read into 512 bytes
    const int32_t port = SaturatingAtoi(value);
    return port < PORTLINK_FIRST_PORT || port > PORTLINK_LAST_OFFERED_PORT ? 1 : port;
}

bool WriteComPort(const std::string &path, int port) {
    char text[16];
    snprintf(text, sizeof text, "%d", port);
    return WriteProfileString(path, kSettingsSection, kSettingsComKey, text);
}
