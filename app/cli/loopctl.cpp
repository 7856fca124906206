// loopctl: the device work of loopset's three buttons without a window. It
// hosts the same dialog behaviour with a console view, so a script or a
// production line gets exactly what an operator gets; it judges the answer
// by the dialog's outcome of it, never by the wording of the log.
// Arguments and output are UTF-8 on every system.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "console_view.h"
#include "device_map.h"
#include "files.h"
#include "frames.h"
#include "loopctl_main.h"
#include "loopset_dlg.h"
#include "port_path.h"
#include "port_problem.h"
#include "socket_layer.h"

namespace {

using Json = nlohmann::ordered_json;

enum ExitCode {
    kExitOk = 0,
    kExitDeviceError = 1,  // the device answered, but not with success
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitPortOpen = 4,
    kExitSystem = 5,
    kExitLineLost = 6,  // the line or the connection went away before the answer
};

// The dialog's edit fields are 15 characters wide; a longer value would be
// cut before it is converted, so it is refused rather than sent changed.
constexpr size_t kFieldWidth = 15;

enum class Command { Adc, ConfigRead, ConfigWrite };

struct Options {
    Command command = Command::Adc;
    std::string commandName;
    int port = 0;  // 0: the one stored in the settings
    std::string device;
    std::string tcp;      // HOST:PORT as given
    std::string tcpHost;  // not empty: the device is reached over TCP
    int tcpPort = 0;
    std::string settings;
    double timeoutSeconds = 1.0;
    bool json = false;
    std::vector<std::string> values;
};

constexpr int kConfigFields[kConfigValueCount] = {
    IDC_CH1_REF_MIN, IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN, IDC_CH1_DISP_MAX,
    IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX,
};

constexpr char kFooter[] =
    "Commands:\n"
    "  adc            read the ADC values of both channels\n"
    "  config-read    read the configuration (per channel: ADC reference min, max,\n"
    "                 display value min, max)\n"
    "  config-write   write it: CH.1 ref min, ref max, disp min, disp max, then CH.2\n"
    "                 likewise; each 0 to 65535\n"
    "\n"
    "The log lines go to standard error. Exit status: 0 success, 1 the device\n"
    "answered with an error, 2 bad usage, 3 no answer in time, 4 the port would not\n"
    "open (or the TCP connection could not be made), 5 a system error, 6 the line\n"
    "or the connection was lost before the answer.";

bool ParseLong(const std::string &text, long min, long max, long *value) {
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

void UsageError(const std::string &message) {
    std::fprintf(stderr, "loopctl: %s\n(see loopctl --help)\n", message.c_str());
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
    } else {
        return "unknown command '" + o.commandName + "'";
    }
    if (o.command != Command::ConfigWrite) {
        if (!o.values.empty()) return "'" + o.commandName + "' takes no values";
    } else {
        if (o.values.size() != kConfigValueCount)
            return "config-write needs 8 values, not " + std::to_string(o.values.size());
        for (const std::string &value : o.values) {
            long v;
            if (value.size() > kFieldWidth)
                return "a value must fit the window's " + std::to_string(kFieldWidth) +
                       "-character field, not '" + value + "'";
            if (!ParseLong(value, 0, 65535, &v))
                return "a value must be a number from 0 to 65535, not '" + value + "'";
        }
    }
    if (!o.tcp.empty()) {
        if (o.port != 0 || !o.device.empty()) return "--tcp goes without --port and --device";
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

// Returns -1 when the options are good, else the exit code.
int ParseOptions(int argc, char **argv, Options &o) {
    CLI::App app{"The device work of loopset's three buttons, without a window.", "loopctl"};
    app.footer(kFooter);
    app.add_option("--port", o.port, "COM port 1 to 30 (default: the one last used, from config.ini)")
        ->check(CLI::Range(1, 30));
    app.add_option("--device", o.device,
                   "the device file to use as COM port N (1 without --port), for this run only")
        ->check([](const std::string &v) { return v.empty() ? "--device needs a path" : ""; });
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
    app.add_flag("--json", o.json, "print the result as one JSON object");
    app.add_option("--settings", o.settings,
                   "settings file to use instead of config.ini beside the program");
    app.add_option("command", o.commandName, "adc | config-read | config-write")->required();
    app.add_option("values", o.values, "config-write's eight values");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitSystem;
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        if (what.find("command is required") != std::string::npos) what = "which command?";
        UsageError(what);
        return kExitUsage;
    }
    if (const auto problem = CheckOptions(o)) {
        UsageError(*problem);
        return kExitUsage;
    }
    return -1;
}

class CRun {
public:
    explicit CRun(const Options &o) : m_o(o), m_view(stderr), m_dlg(m_view, o.settings) {
        m_view.Attach(&m_dlg);
    }
    int Execute();

private:
    int PrepareDevice();
    int Open();
    int WaitForConnection();
    void PressButton();
    int AwaitAnswer();
    int Report(const ResponseOutcome &out);
    int Fail(int code, const std::string &message);
    Json Where() const;
    std::string PortText() const;
    int64_t MsLeft() const { return m_deadlineMs - MonotonicMillis(); }

    const Options &m_o;
    ConsoleView m_view;
    CLoopsetDlg m_dlg;
    std::string m_address;  // the TCP host as the link gets it: a dotted address
    int m_port = 0;
    int64_t m_deadlineMs = 0;
};

Json CRun::Where() const {
    Json j;
    if (m_o.tcpHost.empty())
        j["port"] = m_port;
    else
        j["tcp"] = m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    j["command"] = m_o.commandName;
    return j;
}

std::string CRun::PortText() const {
    if (!m_o.tcpHost.empty()) return m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    return "COM" + std::to_string(m_port) + " (" + portlink::PortPath(m_port) + ")";
}

int CRun::Fail(int code, const std::string &message) {
    std::fprintf(stderr, "loopctl: %s\n", message.c_str());
    if (m_o.json) {
        Json j = Where();
        j["error"] = message;
        j["exit"] = code;
        std::printf("%s\n", j.dump().c_str());
    }
    return code;
}

int CRun::PrepareDevice() {
    if (!m_o.device.empty()) {
        // The port is this run's only, so it is not stored unless --port named it.
        std::string error;
        m_port = MapDevice(m_o.device, m_o.port, &error);
        if (m_port == 0) {
            UsageError(error);
            return kExitUsage;
        }
        if (m_o.port == 0) m_dlg.SetStorePort(false);
        m_view.PinPortSelection(m_port - 1);
    } else if (m_o.port > 0) {
        m_view.PinPortSelection(m_o.port - 1);
    }
    if (!m_o.tcpHost.empty()) {
        // The link takes a dotted address of at most 15 characters; a name is
        // looked up here so that any host a script names can be reached.
        std::string error;
        if (!ResolveIPv4(m_o.tcpHost, &m_address, &error))
            return Fail(kExitPortOpen, "cannot connect to " + PortText() + " (" + error + ")");
        m_dlg.UseTcp(m_address, m_o.tcpPort);
    }
    return -1;
}

int CRun::Open() {
    m_dlg.OnInitDialog();
    m_port = m_dlg.Link().m_nPort;
    if (m_o.tcpHost.empty()) {
        if (!m_view.Boxes().empty())
            return Fail(kExitPortOpen, "cannot open " + PortText() + ": " +
                                           PortOpenProblem(portlink::PortPath(m_port)));
        return -1;
    }
    return WaitForConnection();
}

int CRun::WaitForConnection() {
    // Settings the link refuses come back as a box at once.
    if (!m_view.Boxes().empty())
        return Fail(kExitPortOpen,
                    "cannot connect to " + PortText() + " (" + m_view.Boxes().front() + ")");
    // The timer keeps ticking while the worker connects.
    CDeviceLink &link = m_dlg.Link();
    while (link.m_bSending.load() != 0 && MsLeft() > 0) {
        if (!m_view.RunOnce(static_cast<int>(MsLeft())))
            return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
    }
    if (link.m_bSending.load() != 0 || link.m_bConnected.load() == 0) {
        std::string why = "cannot connect to " + PortText();
        if (!m_view.Boxes().empty()) why += " (" + m_view.Boxes().front() + ")";
        return Fail(kExitPortOpen, why);
    }
    return -1;
}

void CRun::PressButton() {
    switch (m_o.command) {
        case Command::Adc:
            m_dlg.OnBtnAdcRead();
            break;
        case Command::ConfigRead:
            m_dlg.OnBtnConfigRead();
            break;
        case Command::ConfigWrite:
            for (size_t i = 0; i < kConfigValueCount; ++i)
                m_view.SetFieldText(kConfigFields[i], m_o.values[i]);
            m_dlg.OnBtnConfigWrite();
            break;
    }
}

uint8_t ExpectedCommand(Command command) {
    switch (command) {
        case Command::Adc:
            return CMD_GET_ADC_VALUE;
        case Command::ConfigRead:
            return CMD_GET_CONFIG_DATA;
        case Command::ConfigWrite:
            return CMD_SET_CONFIG_DATA;
    }
    return 0;
}

int CRun::AwaitAnswer() {
    size_t judged = m_view.Outcomes().size();
    while (MsLeft() > 0) {
        if (!m_view.RunOnce(static_cast<int>(MsLeft())))
            return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
        // A frame that answers another command (a late answer to an earlier
        // request) or no command at all is not this command's answer.
        const std::vector<ResponseOutcome> &outcomes = m_view.Outcomes();
        for (; judged < outcomes.size(); ++judged) {
            const ResponseOutcome &out = outcomes[judged];
            if (out.kind == ResponseOutcome::Kind::Malformed ||
                (out.kind != ResponseOutcome::Kind::UnknownCommand &&
                 out.command == ExpectedCommand(m_o.command)))
                return Report(out);
        }
        std::string reason;
        if (m_dlg.Link().LinkLost(&reason))
            return Fail(kExitLineLost, "lost " + PortText() + " before the answer: " + reason);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", m_o.timeoutSeconds);
    return Fail(kExitTimeout, "no answer from " + PortText() + " within " + seconds + " s");
}

int CRun::Report(const ResponseOutcome &out) {
    const bool ok = out.kind == ResponseOutcome::Kind::Ok;
    const int code = ok ? kExitOk : kExitDeviceError;
    const std::string result = out.text;
    static const char *const kNames[4] = {"ref_min", "ref_max", "disp_min", "disp_max"};
    if (m_o.json) {
        Json j = Where();
        j["result"] = result;
        if (out.hasAdc) {
            j["ch1"] = out.ch1;
            j["ch2"] = out.ch2;
        }
        if (out.hasConfig) {
            for (int ch = 0; ch < 2; ++ch) {
                Json values;
                for (int i = 0; i < 4; ++i) values[kNames[i]] = out.config[ch * 4 + i];
                j["ch" + std::to_string(ch + 1)] = values;
            }
        }
        if (out.hasExtra) j["extra"] = out.extra;
        if (!ok) {
            j["error"] = "the device answered with an error: " + result;
            j["exit"] = code;
        }
        std::printf("%s\n", j.dump().c_str());
    } else {
        if (out.hasAdc) std::printf("CH.1   %u\nCH.2   %u\n", out.ch1, out.ch2);
        if (out.hasConfig) {
            std::printf("       ADC Reference    Display Value\n");
            std::printf("         Min     Max      Min     Max\n");
            for (int ch = 0; ch < 2; ++ch) {
                std::printf("CH.%d", ch + 1);
                for (int i = 0; i < 4; ++i)
                    std::printf("%s%6u", i == 2 ? "   " : "  ", out.config[ch * 4 + i]);
                std::printf("\n");
            }
        }
        if (m_o.command == Command::ConfigWrite && out.kind != ResponseOutcome::Kind::Malformed)
            std::printf("%s\n", result.c_str());
        if (out.hasExtra) std::printf("extra  %u\n", out.extra);
    }
    if (!ok) std::fprintf(stderr, "loopctl: the device answered with an error: %s\n", result.c_str());
    return code;
}

int CRun::Execute() {
    m_deadlineMs =
        MonotonicMillis() + static_cast<int64_t>(std::llround(m_o.timeoutSeconds * 1000.0));
    if (const int code = PrepareDevice(); code >= 0) return code;
    if (const int code = Open(); code >= 0) return code;
    // The time-out counts from the request, as the operator's wait does.
    m_deadlineMs =
        MonotonicMillis() + static_cast<int64_t>(std::llround(m_o.timeoutSeconds * 1000.0));
    PressButton();
    m_port = m_dlg.Link().m_nPort;
    if (m_o.tcpHost.empty() && !m_view.Boxes().empty())
        return Fail(kExitPortOpen, "cannot open " + PortText() + ": " +
                                       PortOpenProblem(portlink::PortPath(m_port)));
    return AwaitAnswer();
}

}  // namespace

int LoopctlMain(int argc, char **argv) {
    Options o;
    if (const int code = ParseOptions(argc, argv, o); code >= 0) return code;
    int code;
    {
        CRun run(o);
        code = run.Execute();
    }
    // Output that never arrived is no success: a full disk or a closed pipe
    // must not look like a good reading to the script that reads it.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "loopctl: cannot write the output: %s\n", ErrorText(errno).c_str());
        return kExitSystem;
    }
    return code;
}
