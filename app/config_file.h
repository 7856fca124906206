// A device configuration kept in a file: the JSON object loopctl prints for
// a configuration read ({"ch1": {"ref_min": ..., ...}, "ch2": {...}}), so
// that `loopctl --json config-read > line3.json` saves one. Other keys are
// ignored; every one of the eight values must be there, a whole number from
// 0 to 65535.
#pragma once

#include <optional>
#include <string>

#include "frames.h"

// The values, or none with the reason in error (naming the value at fault).
std::optional<ConfigValues> ParseConfigJson(const std::string &text, std::string &error);
// One object and a line end.
std::string ConfigJson(const ConfigValues &values);
// Names of the values that differ ("ch1.ref_max"), in block order.
std::string DifferingFields(const ConfigValues &a, const ConfigValues &b);
