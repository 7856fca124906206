// A device configuration kept in a file: the JSON object loopctl prints for
// a configuration read ({"ch1": {"ref_min": ..., ...}, "ch2": {...}}), so
// that `loopctl --json config-read > line3.json` saves one. Other keys are
// ignored; every one of the eight values must be there, a whole number from
// 0 to 65535.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frames.h"
#include "ui_text.h"

// The values, or none with the reason in error (naming the value at fault).
// The problem is told in texts' words (a window's language; loopctl's English).
std::optional<ConfigValues> ParseConfigJson(const std::string &text, std::string &error,
                                            const ITexts &texts = SourceTexts());
// One object and a line end.
std::string ConfigJson(const ConfigValues &values);
// Names of the values that differ ("ch1.ref_max"), in block order.
std::string DifferingFields(const ConfigValues &a, const ConfigValues &b);

// A configuration is a few hundred bytes: a file larger than this is refused
// unread.
inline constexpr size_t kConfigFileLimit = 1024 * 1024;

// A file's values, or none with "PATH: why" in error. Only a regular file is
// read (a pipe would keep the reader waiting); two equal keys in one object
// are an error naming the key.
std::optional<ConfigValues> LoadConfigFile(const std::string &path, std::string &error,
                                           const ITexts &texts = SourceTexts());
// Replaces the file whole, or leaves it as it was and says why in error.
bool SaveConfigFile(const std::string &path, const ConfigValues &values, std::string &error);
// A field's text as a value for a file: a whole number from 0 to 65535,
// blanks around it allowed; none for anything else.
std::optional<uint16_t> WholeWord(std::string_view text);
