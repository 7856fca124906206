#include "config_commands.h"

#include "config_fields.h"
#include "config_file.h"
#include "config_names.h"

std::string LoadConfigIntoFields(const std::string &path, ILoopsetView &view, const ITexts &texts) {
    std::string error;
    const auto values = LoadConfigFile(path, error, texts);
    if (!values) return error;
    for (size_t i = 0; i < kConfigValueCount; ++i)
        view.SetFieldText(kConfigFieldIds[i], std::to_string((*values)[i]));
    return {};
}

std::string SaveFieldsToConfig(const std::string &path, ILoopsetView &view, const ITexts &texts) {
    ConfigValues values{};
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        const auto value = WholeWord(view.GetFieldText(kConfigFieldIds[i]));
        if (!value) return Fill(texts.Text(UiText::NotWholeNumber), {ConfigValueName(i)});
        values[i] = *value;
    }
    std::string error;
    if (!SaveConfigFile(path, values, error)) return error;
    return {};
}
