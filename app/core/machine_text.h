// Numbers and fields for files and output that programs read (CSV, JSON,
// records): a decimal point whatever the user's locale, and CSV fields
// quoted as CSV requires. What a person reads may follow the locale; these
// never do.
#pragma once

#include <string>
#include <string_view>

// value with exactly `decimals` digits after a point ("12.345"); "-0.000"
// never appears.
std::string FixedText(double value, int decimals);
// Appends FixedText(value, decimals) to out without allocating beyond it.
void AppendFixed(std::string &out, double value, int decimals);
// A CSV field: as it is when it needs nothing, else in double quotes with its
// quotes doubled (a comma, a quote or a line end inside).
std::string CsvField(std::string_view text);
