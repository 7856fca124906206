#include "config_file.h"

#include <cerrno>
#include <charconv>
#include <nlohmann/json.hpp>
#include <vector>

#include "config_names.h"
#include "files.h"

namespace {

// The parser keeps the last of two equal keys without a word; in a file
// that says which value a device gets, two values for one name are a
// mistake to show, not to settle by guessing.
class CDuplicateKeys {
public:
    bool operator()(int depth, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
        using Event = nlohmann::json::parse_event_t;
        const auto level = static_cast<size_t>(depth);
        if (event == Event::object_start) {
            if (m_keys.size() <= level) m_keys.resize(level + 1);
            m_keys[level].clear();
        } else if (event == Event::key && level > 0 && level <= m_keys.size() && m_duplicate.empty()) {
            std::vector<std::string> &keys = m_keys[level - 1];
            const std::string key = parsed.get<std::string>();
            for (const std::string &k : keys)
                if (k == key) m_duplicate = key;
            keys.push_back(key);
        }
        return true;
    }
    const std::string &Duplicate() const { return m_duplicate; }

private:
    std::vector<std::vector<std::string>> m_keys;
    std::string m_duplicate;
};

}  // namespace

std::optional<ConfigValues> ParseConfigJson(const std::string &text, std::string &error,
                                            const ITexts &texts) {
    CDuplicateKeys duplicates;
    const nlohmann::json j = nlohmann::json::parse(
        text, [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json &parsed) {
            return duplicates(depth, event, parsed);
        },
        false);
    if (j.is_discarded() || !j.is_object()) {
        error = texts.Text(UiText::NotJsonObject);
        return std::nullopt;
    }
    if (!duplicates.Duplicate().empty()) {
        error = Fill(texts.Text(UiText::KeyTwice), {duplicates.Duplicate()});
        return std::nullopt;
    }
    ConfigValues values{};
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        const ConfigName &f = kConfigNames[i];
        const std::string name = ConfigValueName(i);
        const auto channel = j.find(f.channel);
        if (channel == j.end() || !channel->is_object() || !channel->contains(f.name)) {
            error = Fill(texts.Text(UiText::MissingValue), {name});
            return std::nullopt;
        }
        const nlohmann::json &v = (*channel)[f.name];
        // Whole numbers only: 800.5 or "800" would be a guess at what was meant.
        if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 65535) {
            error = Fill(texts.Text(UiText::NotWholeNumber), {name});
            return std::nullopt;
        }
        values[i] = static_cast<uint16_t>(v.get<int64_t>());
    }
    return values;
}

std::string ConfigJson(const ConfigValues &values) {
    nlohmann::ordered_json j;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        j[kConfigNames[i].channel][kConfigNames[i].name] = values[i];
    }
    return j.dump() + "\n";
}

std::string DifferingFields(const ConfigValues &a, const ConfigValues &b) {
    std::string names;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (a[i] == b[i]) continue;
        if (!names.empty()) names += ", ";
        names += ConfigValueName(i);
    }
    return names;
}

std::optional<ConfigValues> LoadConfigFile(const std::string &path, std::string &error,
                                           const ITexts &texts) {
    std::string text;
    if (!ReadWholeFile(path, text, kConfigFileLimit)) {
        error = path + ": " + (errno == EFBIG ? texts.Text(UiText::FileTooLarge) : ErrorText(errno));
        return std::nullopt;
    }
    auto values = ParseConfigJson(text, error, texts);
    if (!values) error = path + ": " + error;
    return values;
}

bool SaveConfigFile(const std::string &path, const ConfigValues &values, std::string &error) {
    if (ReplaceFileContents(path, ConfigJson(values))) return true;
    error = path + ": " + ErrorText(errno);
    return false;
}

std::optional<uint16_t> WholeWord(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}
