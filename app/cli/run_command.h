// A command line run the way the system's shell runs it, for loopctl
// calibrate's --source-cmd: its output goes to standard error (standard
// output stays loopctl's), and it may take at most limitMs.
#pragma once

#include <string>

struct CommandResult {
    bool ran = false;      // it started and ended within the limit
    int exitCode = -1;     // its status when it ran
    std::string problem;   // why it did not run, or did not end
};

CommandResult RunCommand(const std::string &command, int limitMs);
