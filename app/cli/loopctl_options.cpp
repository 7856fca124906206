#include "loopctl_options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>
#include <sstream>

#include "config_file.h"
#include "loopctl_output.h"
#include "portlink.h"

namespace {

// The dialog's edit fields are 15 characters wide; a longer value would be
// cut before it is converted, so it is refused rather than sent changed.
constexpr size_t kFieldWidth = 15;
constexpr int kMaxRetries = 100;

constexpr char kFooter[] =
    "Commands:\n"
    "  adc            read the ADC values of both channels\n"
    "  config-read    read the configuration (per channel: ADC reference min, max,\n"
    "                 display value min, max)\n"
    "  config-write   write it: CH.1 ref min, ref max, disp min, disp max, then CH.2\n"
    "                 likewise; each 0 to 65535\n"
    "  ports          list the COM ports that have a device, and what it is\n"
    "  watch          ADC reads one after another, a line each, with the loop current\n"
    "                 and display value derived from the configured ranges; a summary\n"
    "                 on standard error at the end (SIGINT or SIGTERM ends it)\n"
    "  config-diff FILE  read the configuration and compare it with a saved one\n"
    "                 (the JSON of --json config-read): 0 the same, 1 naming what differs\n"
    "  calibrate      prove a channel: apply each test point's current (a prompt on\n"
    "                 standard error, answered on standard input, or --source-cmd),\n"
    "                 judge it as found, adjust with --adjust when it fails, judge it\n"
    "                 again as left; a record as JSON and HTML. 0: the last verdict\n"
    "                 passes, 1: it fails\n"
    "\n"
    "The log lines go to standard error. Exit status: 0 success, 1 the device\n"
    "answered with an error (or kept other values than written, with --verify),\n"
    "2 bad usage, 3 no answer in time, 4 the port would not open (or the TCP\n"
    "connection could not be made), 5 a system error, 6 the line or the connection\n"
    "was lost before the answer. With several ports, the first failure's status.";

bool ParseLong(const std::string &text, long min, long max, long *value) {
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

// A script that asked for JSON reads standard output only: the usage error
// is an object there too.
int UsageError(const std::string &message, bool json) {
    std::fprintf(stderr, "loopctl: %s\n(see loopctl --help)\n", message.c_str());
    if (json) {
        Json j;
        j["error"] = message;
        j["exit"] = kExitUsage;
        PrintJson(j);
    }
    return kExitUsage;
}

std::optional<std::string> CheckPorts(Options &o) {
    if (o.portList.empty()) return std::nullopt;
    std::stringstream list(o.portList);
    std::string item;
    while (std::getline(list, item, ',')) {
        long port;
        if (!ParseLong(item, PORTLINK_FIRST_PORT, PORTLINK_LAST_OFFERED_PORT, &port))
            return "--port needs COM numbers from " + std::to_string(PORTLINK_FIRST_PORT) + " to " +
                   std::to_string(PORTLINK_LAST_OFFERED_PORT) + " (a list with commas), not '" +
                   o.portList + "'";
        for (int known : o.ports)
            if (known == port) return "--port names COM" + item + " twice";
        o.ports.push_back(static_cast<int>(port));
    }
    if (o.ports.empty() || o.portList.back() == ',')
        return "--port needs COM numbers, not '" + o.portList + "'";
    if (o.ports.size() > 1 && !o.device.empty()) return "--device goes with one --port only";
    return std::nullopt;
}

// A configuration file as the values of config-write, or as what
// config-diff compares with: a bad one ends the run before anything is sent.
std::optional<std::string> LoadValues(Options &o, const std::string &path) {
    std::string error;
    const auto values = LoadConfigFile(path, error);
    if (!values) return error;
    o.written = *values;
    o.values.clear();
    for (uint16_t v : *values) o.values.push_back(std::to_string(v));
    return std::nullopt;
}

std::optional<std::string> CheckValues(Options &o) {
    if (o.command == Command::ConfigDiff) {
        if (o.values.size() != 1) return "config-diff needs one FILE";
        o.file = o.values.front();
        return LoadValues(o, o.file);
    }
    if (!o.from.empty()) {
        if (o.command != Command::ConfigWrite) return "--from goes with config-write";
        if (!o.values.empty()) return "config-write takes --from FILE or 8 values, not both";
        if (auto problem = LoadValues(o, o.from)) return problem;
    }
    if (o.command != Command::ConfigWrite) {
        if (!o.values.empty()) return "'" + o.commandName + "' takes no values";
        if (o.verify) return "--verify goes with config-write";
        return std::nullopt;
    }
    if (o.values.size() != kConfigValueCount)
        return "config-write needs 8 values, not " + std::to_string(o.values.size());
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        const std::string &value = o.values[i];
        long v;
        if (value.size() > kFieldWidth)
            return "a value must fit the window's " + std::to_string(kFieldWidth) +
                   "-character field, not '" + value + "'";
        if (!ParseLong(value, 0, 65535, &v))
            return "a value must be a number from 0 to 65535, not '" + value + "'";
        o.written[i] = static_cast<uint16_t>(v);
    }
    return std::nullopt;
}

std::optional<std::string> CheckCalibration(Options &o) {
    if (o.command != Command::Calibrate) {
        if (o.calibrationGiven)
            return "--channel, --points, --tolerance, --adjust, --record, --report, --tag, "
                   "--operator, --reference, --source-cmd and --steady go with calibrate";
        return std::nullopt;
    }
    if (o.ports.size() > 1) return "calibrate works on one port";
    CalSettings &s = o.calibration;
    if (s.channel == 0) return "calibrate needs --channel 1 or 2";
    if (!o.pointList.empty()) {
        std::string error;
        s.points = ParsePoints(o.pointList, error);
        if (s.points.empty()) return error;
    }
    if (!o.sourceCommand.empty() && o.sourceCommand.find("{mA}") == std::string::npos)
        return "--source-cmd needs {mA} where the current goes, not '" + o.sourceCommand + "'";
    s.answerTimeoutMs = std::llround(o.timeoutSeconds * 1000.0);
    s.pointTimeoutSeconds = std::max(s.pointTimeoutSeconds, s.steadySeconds * 4);
    const std::string problem = CheckCalSettings(s);
    if (!problem.empty()) return problem;
    return std::nullopt;
}

// Checks what the option parser cannot: the command, its values, and which
// options go together. Returns the message of the first problem.
std::optional<std::string> CheckOptions(Options &o) {
    if (o.commandName == "adc") {
        o.command = Command::Adc;
    } else if (o.commandName == "config-read") {
        o.command = Command::ConfigRead;
    } else if (o.commandName == "config-write") {
        o.command = Command::ConfigWrite;
    } else if (o.commandName == "ports") {
        o.command = Command::Ports;
    } else if (o.commandName == "watch") {
        o.command = Command::Watch;
    } else if (o.commandName == "config-diff") {
        o.command = Command::ConfigDiff;
    } else if (o.commandName == "calibrate") {
        o.command = Command::Calibrate;
    } else {
        return "unknown command '" + o.commandName + "'";
    }
    if (auto problem = CheckValues(o)) return problem;
    if (auto problem = CheckPorts(o)) return problem;
    if (o.command != Command::Watch && (o.csv || o.noDerived || o.count != 0 || o.intervalGiven))
        return "--interval, --count, --csv and --no-derived go with watch";
    if (o.command == Command::Watch && o.ports.size() > 1) return "watch works on one port";
    if (auto problem = CheckCalibration(o)) return problem;
    if (o.csv && o.json) return "--csv or --json, not both";
    if (o.command == Command::Ports &&
        (!o.ports.empty() || !o.device.empty() || !o.tcp.empty() || o.retries > 0))
        return "'ports' takes only --json";
    if (!o.tcp.empty()) {
        if (!o.ports.empty() || !o.device.empty()) return "--tcp goes without --port and --device";
        const size_t colon = o.tcp.rfind(':');
        long port;
        if (colon == std::string::npos || colon == 0 ||
            !ParseLong(o.tcp.substr(colon + 1), 1, 65535, &port))
            return "--tcp needs HOST:PORT (a port from 1 to 65535), not '" + o.tcp + "'";
        o.tcpHost = o.tcp.substr(0, colon);
        o.tcpPort = static_cast<int>(port);
    }
    return std::nullopt;
}

}  // namespace

int ParseOptions(int argc, char **argv, Options &o) {
    CLI::App app{"The device work of loopset's three buttons, without a window.", "loopctl"};
    app.footer(kFooter);
    app.add_option("--port", o.portList,
                   "COM port 1 to 30 (default: the one last used, from config.ini); a list such "
                   "as 11,12,13 works on each of them at once");
    app.add_option("--device", o.device,
                   "the device to use as COM port N (1 without --port), for this run only");
    app.add_option("--tcp", o.tcp,
                   "reach the device over TCP (a serial gateway, or loopsim --tcp) instead of a "
                   "COM port; HOST is an address or a name");
    app.add_option("--timeout", o.timeoutSeconds, "seconds to wait for the answer (default 1)")
        ->check([](const std::string &v) {
            char *end = nullptr;
            const double t = std::strtod(v.c_str(), &end);
            return end != v.c_str() && *end == '\0' && std::isfinite(t) && t > 0 && t <= 3600
                       ? ""
                       : "--timeout needs seconds (0 < S <= 3600), not '" + v + "'";
        });
    app.add_option("--retries", o.retries, "send a request again this often when no answer came")
        ->check(CLI::Range(0, kMaxRetries));
    app.add_flag("--verify", o.verify,
                 "after config-write, read the configuration back and compare all eight values");
    app.add_flag("--json", o.json, "print the result as one JSON object (one per port)");
    app.add_option("--settings", o.settings,
                   "settings file to use instead of config.ini beside the program");
    app.add_option("command", o.commandName,
                   "adc | config-read | config-write | ports | watch | config-diff | calibrate")
        ->required();
    app.add_option("values", o.values, "config-write's eight values; config-diff's FILE");
    app.add_option("--from", o.from, "config-write: the values of a configuration file");
    app.add_option("--interval", o.intervalSeconds,
                   "watch: seconds from one read to the next (default 0.5; 0: as fast as the "
                   "device answers)")
        ->check([](const std::string &v) {
            char *end = nullptr;
            const double t = std::strtod(v.c_str(), &end);
            return end != v.c_str() && *end == '\0' && std::isfinite(t) && t >= 0 && t <= 3600
                       ? ""
                       : "--interval needs seconds (0 <= S <= 3600), not '" + v + "'";
        });
    app.add_option("--count", o.count, "watch: this many reads, then the summary")
        ->check([](const std::string &v) {
            long count;
            return ParseLong(v, 1, 1000000000L, &count)
                       ? ""
                       : "--count needs a whole number of reads from 1 to 1000000000, not '" + v + "'";
        });
    app.add_flag("--csv", o.csv, "watch: CSV with a header line");
    app.add_flag("--no-derived", o.noDerived,
                 "watch: raw values only, without reading the configured ranges first");
    CalSettings &cal = o.calibration;
    cal.channel = 0;
    std::vector<CLI::Option *> calibrationOptions = {
        app.add_option("--channel", cal.channel, "calibrate: the channel, 1 or 2")
            ->check([](const std::string &v) {
                return v == "1" || v == "2" ? "" : "--channel is 1 or 2, not '" + v + "'";
            }),
        app.add_option("--points", o.pointList,
                       "calibrate: the test points in mA (default 4,8,12,16,20), 3.6 to 21 each"),
        app.add_option("--tolerance", cal.tolerancePct,
                       "calibrate: the tolerance in % of the display span (default 0.25)")
            ->check([](const std::string &v) {
                char *end = nullptr;
                const double t = std::strtod(v.c_str(), &end);
                return end != v.c_str() && *end == '\0' && std::isfinite(t) && t > 0 && t < 100
                           ? ""
                           : "--tolerance needs a percentage above 0, not '" + v + "'";
            }),
        app.add_flag("--adjust", cal.adjustWhenFailing,
                     "calibrate: when a point fails as found, write the adjusted reference range, "
                     "read it back, and judge the points again as left"),
        app.add_option("--record", o.record, "calibrate: the record as JSON into this file"),
        app.add_option("--report", o.report, "calibrate: the record as an HTML page into this file"),
        app.add_option("--tag", cal.tag, "calibrate: the device's tag, for the record"),
        app.add_option("--operator", cal.operatorName, "calibrate: who calibrates, for the record"),
        app.add_option("--reference", cal.reference,
                       "calibrate: the reference instrument (name, serial, due date), for the record"),
        app.add_option("--source-cmd", o.sourceCommand,
                       "calibrate: run this to apply each current instead of asking ({mA} is "
                       "replaced by it); it must exit 0"),
        app.add_option("--steady", cal.steadySeconds,
                       "calibrate: seconds of steady readings a point needs (default 2)")
            ->check([](const std::string &v) {
                char *end = nullptr;
                const double t = std::strtod(v.c_str(), &end);
                return end != v.c_str() && *end == '\0' && std::isfinite(t) && t >= 0.2 && t <= 60
                           ? ""
                           : "--steady needs seconds (0.2 to 60), not '" + v + "'";
            }),
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitSystem;
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        if (what.find("command is required") != std::string::npos) what = "which command?";
        // The parser stops at the first problem, maybe before --json.
        bool json = false;
        for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
            json = json || std::strcmp(argv[i], "--json") == 0;
        return UsageError(what, json);
    }
    o.intervalGiven = app.count("--interval") > 0;
    for (const CLI::Option *option : calibrationOptions) o.calibrationGiven |= option->count() > 0;
    if (const auto problem = CheckOptions(o)) return UsageError(*problem, o.json);
    return -1;
}
