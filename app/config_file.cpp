#include "config_file.h"

#include <cerrno>
#include <charconv>
#include <nlohmann/json.hpp>

#include "config_fields.h"
#include "files.h"

std::optional<ConfigValues> ParseConfigJson(const std::string &text, std::string &error) {
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    ConfigValues values{};
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        const ConfigField &f = kConfigFieldTable[i];
        const std::string name = std::string(f.channel) + "." + f.name;
        const auto channel = j.find(f.channel);
        if (channel == j.end() || !channel->is_object() || !channel->contains(f.name)) {
            error = "no " + name;
            return std::nullopt;
        }
        const nlohmann::json &v = (*channel)[f.name];
        // Whole numbers only: 800.5 or "800" would be a guess at what was meant.
        if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 65535) {
            error = name + " is not a whole number from 0 to 65535";
            return std::nullopt;
        }
        values[i] = static_cast<uint16_t>(v.get<int64_t>());
    }
    return values;
}

std::string ConfigJson(const ConfigValues &values) {
    nlohmann::ordered_json j;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        j[kConfigFieldTable[i].channel][kConfigFieldTable[i].name] = values[i];
    }
    return j.dump() + "\n";
}

std::string DifferingFields(const ConfigValues &a, const ConfigValues &b) {
    std::string names;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (a[i] == b[i]) continue;
        if (!names.empty()) names += ", ";
        names += std::string(kConfigFieldTable[i].channel) + "." + kConfigFieldTable[i].name;
    }
    return names;
}

std::optional<ConfigValues> LoadConfigFile(const std::string &path, std::string &error) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        error = path + ": " + ErrorText(errno);
        return std::nullopt;
    }
    auto values = ParseConfigJson(text, error);
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
