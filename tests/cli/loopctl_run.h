// loopctl as a user runs it: a separate process, checked by its exit status
// and its output. Shared by the tests of both systems and Linux's own.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_device.h"

using Json = nlohmann::json;

struct LoopctlRun {
    std::string settings{};  // kept when named, else a file of the run's own
    std::string out{};       // a file for standard output
    std::vector<std::string> env{}, wrapper{};
    std::vector<std::string> more{};  // arguments after args, taken whole
};

// args are split at spaces.
inline ProgramRun Loopctl(const std::string &args, const LoopctlRun &run = {}) {
    static int runs = 0;
    const std::string ini =
        run.settings.empty() ? "loopctl-test-" + std::to_string(++runs) + ".ini" : run.settings;
    std::vector<std::string> argv = run.wrapper;
    argv.insert(argv.end(), {LOOPCTL_PATH, "--settings", ini});
    std::istringstream words(args);
    for (std::string word; words >> word;) argv.push_back(word);
    argv.insert(argv.end(), run.more.begin(), run.more.end());
    ProgramRun result = RunProgram(argv, run.env, run.out);
    if (run.settings.empty()) std::remove(ini.c_str());
    return result;
}

// Every line of standard output as one JSON object each, or a test failure.
inline std::vector<Json> JsonLines(const ProgramRun &run) {
    std::vector<Json> objects;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(Json::parse(line, nullptr, false));
        EXPECT_FALSE(objects.back().is_discarded()) << "not one JSON object:\n" << line;
    }
    return objects;
}
inline Json JsonOf(const ProgramRun &run) {
    const std::vector<Json> objects = JsonLines(run);
    EXPECT_EQ(objects.size(), 1u) << run.out;
    return objects.empty() ? Json() : objects.front();
}

inline bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// adc, config-write and config-read on the device that `to` names.
void ExpectAdcWriteReadBack(const std::string &to);
// A run that fails: its status, one message naming the culprit, no busy
// waiting, and with --json one object that says it.
ProgramRun ExpectFailure(const std::string &args, int exitCode, const std::string &culprit,
                         const LoopctlRun &run = {});
