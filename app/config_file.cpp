#include "config_file.h"

#include <nlohmann/json.hpp>

#include "config_fields.h"

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
