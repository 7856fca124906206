// What loopctl was asked to do: its command line, checked whole before any
// device is touched, and the exit codes every part of it answers with.
#pragma once

#include <string>
#include <vector>

#include "calibration.h"
#include "frames.h"

enum ExitCode {
    kExitOk = 0,
    kExitDeviceError = 1,  // the device answered, but not with success (or not what was written)
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitPortOpen = 4,
    kExitSystem = 5,
    kExitLineLost = 6,  // the line or the connection went away before the answer
};

enum class Command { Adc, ConfigRead, ConfigWrite, Ports, Watch, ConfigDiff, Calibrate };

struct Options {
    Command command = Command::Adc;
    std::string commandName;
    std::string portList;    // as given: "11" or "11,12,13"
    std::vector<int> ports;  // empty: the one stored in the settings
    std::string device;
    std::string tcp;      // HOST:PORT as given
    std::string tcpHost;  // not empty: the device is reached over TCP
    int tcpPort = 0;
    std::string settings;
    double timeoutSeconds = 1.0;
    int retries = 0;
    bool verify = false;
    bool json = false;
    std::vector<std::string> values;
    ConfigValues written{};  // config-write's values; config-diff's file's
    std::string from;        // config-write --from FILE
    std::string file;        // config-diff FILE
    // watch
    double intervalSeconds = 0.5;
    bool intervalGiven = false;
    long count = 0;  // 0: until SIGINT or SIGTERM
    bool csv = false;
    bool noDerived = false;
    // calibrate
    CalSettings calibration;
    std::string pointList, record, report, sourceCommand;
    bool calibrationGiven = false;  // one of calibrate's own options
};

// Fills o from the command line. Returns -1 when the options are good, else
// the exit code, with the help or the usage error already printed (as one
// JSON object too when --json was among the arguments).
int ParseOptions(int argc, char **argv, Options &o);
