// loopctl's standard output: JSON that stays one valid object whatever bytes
// it carries, an answer's lines for a person, and one line per port of a list.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "response_outcome.h"

using Json = nlohmann::ordered_json;

// Prints j as one line; bytes that are not UTF-8 become U+FFFD.
void PrintJson(const Json &j);

// Standard output could not be written (err: why): said once on standard
// error, however many places find out. Returns the exit status for it.
int ReportOutputFailure(int err);

// Adds what the answer shows to j ("result", the values, "extra") and to
// text (one line per value); the result line is added to text when
// withResult.
void DescribeAnswer(const ResponseOutcome &out, bool withResult, Json &j, std::string &text);

// A run's lines, and its error if any, as one line: joined by two spaces.
std::string JoinedLine(std::string text, const std::string &error);

// text with what would break its line, or a terminal reading it, written as
// \xNN: control characters and bytes that are not UTF-8.
std::string EscapedLine(const std::string &text);
