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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "console_view.h"
#include "device_map.h"
#include "files.h"
#include "frames.h"
#include "loopctl_main.h"
#include "loopset_dlg.h"
#include "port_list.h"
#include "port_path.h"
#include "port_problem.h"
#include "socket_layer.h"

namespace {

using Json = nlohmann::ordered_json;

enum ExitCode {
    kExitOk = 0,
    kExitDeviceError = 1,  // the device answered, but not with success (or not what was written)
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitPortOpen = 4,
    kExitSystem = 5,
    kExitLineLost = 6,  // the line or the connection went away before the answer
};

// The dialog's edit fields are 15 characters wide; a longer value would be
// cut before it is converted, so it is refused rather than sent changed.
constexpr size_t kFieldWidth = 15;
constexpr int kMaxRetries = 100;

enum class Command { Adc, ConfigRead, ConfigWrite, Ports };

struct Options {
    Command command = Command::Adc;
    std::string commandName;
    std::string portList;   // as given: "11" or "11,12,13"
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
    ConfigValues written{};
};

constexpr int kConfigFields[kConfigValueCount] = {
    IDC_CH1_REF_MIN, IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN, IDC_CH1_DISP_MAX,
    IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX,
};
constexpr const char *kValueNames[4] = {"ref_min", "ref_max", "disp_min", "disp_max"};

constexpr char kFooter[] =
    "Commands:\n"
    "  adc            read the ADC values of both channels\n"
    "  config-read    read the configuration (per channel: ADC reference min, max,\n"
    "                 display value min, max)\n"
    "  config-write   write it: CH.1 ref min, ref max, disp min, disp max, then CH.2\n"
    "                 likewise; each 0 to 65535\n"
    "  ports          list the COM ports that have a device, and what it is\n"
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

void UsageError(const std::string &message) {
    std::fprintf(stderr, "loopctl: %s\n(see loopctl --help)\n", message.c_str());
}

std::optional<std::string> CheckPorts(Options &o) {
    if (o.portList.empty()) return std::nullopt;
    std::stringstream list(o.portList);
    std::string item;
    while (std::getline(list, item, ',')) {
        long port;
        if (!ParseLong(item, 1, 30, &port))
            return "--port needs COM numbers from 1 to 30 (a list with commas), not '" +
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

std::optional<std::string> CheckValues(Options &o) {
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
    } else {
        return "unknown command '" + o.commandName + "'";
    }
    if (auto problem = CheckValues(o)) return problem;
    if (auto problem = CheckPorts(o)) return problem;
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

// Returns -1 when the options are good, else the exit code.
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
    app.add_option("command", o.commandName, "adc | config-read | config-write | ports")
        ->required();
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

// What one run on one port comes to: its status, its JSON object and the
// lines for a person.
struct RunResult {
    int code = kExitOk;
    Json json;
    std::string text;   // the answer's lines
    std::string error;  // why it failed, when it did
};

// One port's command, start to end, as an operator would do it in the window.
class CRun {
public:
    // port 0: the one the settings hold. prefix goes before every log line.
    CRun(const Options &o, int port, const std::string &prefix)
        : m_o(o), m_port(port), m_view(stderr, prefix), m_dlg(m_view, o.settings) {
        m_view.Attach(&m_dlg);
        m_prefix = prefix;
    }
    RunResult Execute();

private:
    int PrepareDevice();
    int Open();
    int WaitForConnection();
    void PressButton(Command command);
    // Sends command (again while retries last) and waits for its answer.
    int Exchange(Command command, ResponseOutcome *answer);
    int AwaitAnswer(uint8_t expected, ResponseOutcome *answer);
    int Report(const ResponseOutcome &out);
    int Verify();
    int Fail(int code, const std::string &message);
    std::string PortText() const;
    void StartClock() {
        m_deadlineMs =
            MonotonicMillis() + static_cast<int64_t>(std::llround(m_o.timeoutSeconds * 1000.0));
    }
    int64_t MsLeft() const { return m_deadlineMs - MonotonicMillis(); }

    const Options &m_o;
    int m_port;
    std::string m_prefix;
    ConsoleView m_view;
    CLoopsetDlg m_dlg;
    std::string m_address;  // the TCP host as the link gets it: a dotted address
    int64_t m_deadlineMs = 0;
    RunResult m_result;
};

std::string CRun::PortText() const {
    if (!m_o.tcpHost.empty()) return m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    return "COM" + std::to_string(m_port) + " (" + portlink::PortPath(m_port) + ")";
}

int CRun::Fail(int code, const std::string &message) {
    std::fprintf(stderr, "loopctl: %s\n", message.c_str());
    m_result.json["error"] = message;
    m_result.json["exit"] = code;
    m_result.error = message;
    return code;
}

int CRun::PrepareDevice() {
    if (!m_o.device.empty()) {
        // The port is this run's only, so it is not stored unless --port named it.
        std::string error;
        m_port = MapDevice(m_o.device, m_port, &error);
        if (m_port == 0) return Fail(kExitUsage, error);
        if (m_o.ports.empty()) m_dlg.SetStorePort(false);
    }
    // Several ports at once would race for the one stored port.
    if (m_o.ports.size() > 1) m_dlg.SetStorePort(false);
    if (m_port > 0) m_view.PinPortSelection(m_port - 1);
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

void CRun::PressButton(Command command) {
    switch (command) {
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
        case Command::Ports:
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
        case Command::Ports:
            break;
    }
    return 0;
}

int CRun::Exchange(Command command, ResponseOutcome *answer) {
    for (int attempt = 0;; ++attempt) {
        // The time-out counts from each request, as the operator's wait does.
        StartClock();
        PressButton(command);
        m_port = m_dlg.Link().m_nPort;
        if (m_o.tcpHost.empty() && !m_view.Boxes().empty())
            return Fail(kExitPortOpen, "cannot open " + PortText() + ": " +
                                           PortOpenProblem(portlink::PortPath(m_port)));
        const int code = AwaitAnswer(ExpectedCommand(command), answer);
        if (code != kExitTimeout || attempt >= m_o.retries) return code;
        std::fprintf(stderr, "loopctl: %sno answer, sending again (%d of %d)\n", m_prefix.c_str(),
                     attempt + 1, m_o.retries);
    }
}

int CRun::AwaitAnswer(uint8_t expected, ResponseOutcome *answer) {
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
                (out.kind != ResponseOutcome::Kind::UnknownCommand && out.command == expected)) {
                *answer = out;
                return out.kind == ResponseOutcome::Kind::Ok ? kExitOk : kExitDeviceError;
            }
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
    Json &j = m_result.json;
    std::ostringstream text;
    j["result"] = result;
    if (out.hasAdc) {
        j["ch1"] = out.ch1;
        j["ch2"] = out.ch2;
        text << "CH.1   " << out.ch1 << "\nCH.2   " << out.ch2 << "\n";
    }
    if (out.hasConfig) {
        text << "       ADC Reference    Display Value\n"
             << "         Min     Max      Min     Max\n";
        for (int ch = 0; ch < 2; ++ch) {
            Json values;
            char line[64];
            int n = std::snprintf(line, sizeof line, "CH.%d", ch + 1);
            for (int i = 0; i < 4; ++i) {
                values[kValueNames[i]] = out.config[ch * 4 + i];
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s%6u",
                                   i == 2 ? "   " : "  ", out.config[ch * 4 + i]);
            }
            j["ch" + std::to_string(ch + 1)] = values;
            text << line << "\n";
        }
    }
    if (m_o.command == Command::ConfigWrite && out.kind != ResponseOutcome::Kind::Malformed)
        text << result << "\n";
    if (out.hasExtra) {
        j["extra"] = out.extra;
        text << "extra  " << out.extra << "\n";
    }
    m_result.text = text.str();
    if (!ok) {
        std::fprintf(stderr, "loopctl: %s", m_prefix.c_str());
        Fail(code, "the device answered with an error: " + result);
    }
    return code;
}

// The write's "CRC16 Ok!" says the block arrived whole; reading it back says
// the device keeps what was meant.
int CRun::Verify() {
    ResponseOutcome readBack;
    const int code = Exchange(Command::ConfigRead, &readBack);
    if (code != kExitOk) {
        if (code == kExitDeviceError)
            Fail(code, std::string("verify: the read back failed: ") + readBack.text);
        m_result.json["verified"] = false;
        return code;
    }
    std::vector<std::string> differ;
    std::string detail;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (readBack.config[i] == m_o.written[i]) continue;
        const std::string name = "ch" + std::to_string(i / 4 + 1) + "." + kValueNames[i % 4];
        differ.push_back(name);
        detail += (detail.empty() ? "" : ", ") + name + " " + std::to_string(readBack.config[i]) +
                  " instead of " + std::to_string(m_o.written[i]);
    }
    m_result.json["verified"] = differ.empty();
    if (differ.empty()) {
        m_result.text += "verified\n";
        return kExitOk;
    }
    m_result.json["differ"] = differ;
    return Fail(kExitDeviceError, "verify: the device keeps other values: " + detail);
}

RunResult CRun::Execute() {
    if (m_o.tcpHost.empty())
        m_result.json["port"] = m_port;
    else
        m_result.json["tcp"] = m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    m_result.json["command"] = m_o.commandName;
    StartClock();
    int code = PrepareDevice();
    if (code < 0) code = Open();
    if (m_o.tcpHost.empty()) m_result.json["port"] = m_port;
    if (code >= 0) {
        m_result.code = code;
        return m_result;
    }
    ResponseOutcome answer;
    code = Exchange(m_o.command, &answer);
    if (code == kExitOk || code == kExitDeviceError) {
        code = Report(answer);
        if (code == kExitOk && m_o.verify) code = Verify();
    }
    m_result.code = code;
    return m_result;
}

// The device list, for a person or a script.
int ListPortsCommand(const Options &o) {
    const std::vector<PortInfo> ports = ListPorts();
    if (o.json) {
        Json list = Json::array();
        for (const PortInfo &p : ports) {
            Json j;
            j["port"] = p.port;
            j["path"] = p.path;
            j["in_use"] = p.inUse;
            if (!p.vendorId.empty()) {
                j["vendor_id"] = p.vendorId;
                j["product_id"] = p.productId;
                j["manufacturer"] = p.manufacturer;
                j["product"] = p.product;
                j["serial"] = p.serial;
            }
            if (!p.byId.empty()) j["by_id"] = p.byId;
            list.push_back(j);
        }
        Json all;
        all["ports"] = list;
        std::printf("%s\n", all.dump().c_str());
    } else {
        for (const PortInfo &p : ports) std::printf("%s\n", DescribePort(p).c_str());
        if (ports.empty()) std::fprintf(stderr, "loopctl: no COM port has a device\n");
    }
    return kExitOk;
}

// Several ports at once, each with a dialog of its own on a thread of its
// own; one line (or one JSON object) per port, in the order given.
int RunOnPorts(const Options &o) {
    std::vector<RunResult> results(o.ports.size());
    std::vector<std::thread> workers;
    for (size_t i = 0; i < o.ports.size(); ++i) {
        workers.emplace_back([&o, &results, i] {
            const std::string prefix = "COM" + std::to_string(o.ports[i]) + ": ";
            CRun run(o, o.ports[i], prefix);
            results[i] = run.Execute();
        });
    }
    for (std::thread &t : workers) t.join();
    int code = kExitOk;
    for (size_t i = 0; i < results.size(); ++i) {
        const RunResult &r = results[i];
        if (o.json) {
            std::printf("%s\n", r.json.dump().c_str());
        } else {
            // One line per port: the lines of one run joined by two spaces.
            std::string line = r.text;
            if (!r.error.empty()) line += "error: " + r.error;
            for (size_t at; (at = line.find('\n')) != std::string::npos;)
                line.replace(at, 1, at + 1 < line.size() ? "  " : "");
            std::printf("COM%d  %s\n", o.ports[i], line.c_str());
        }
        if (code == kExitOk) code = r.code;
    }
    return code;
}

}  // namespace

int LoopctlMain(int argc, char **argv) {
    Options o;
    if (const int code = ParseOptions(argc, argv, o); code >= 0) return code;
    int code;
    if (o.command == Command::Ports) {
        code = ListPortsCommand(o);
    } else if (o.ports.size() > 1) {
        code = RunOnPorts(o);
    } else {
        CRun run(o, o.ports.empty() ? 0 : o.ports.front(), "");
        const RunResult r = run.Execute();
        if (o.json)
            std::printf("%s\n", r.json.dump().c_str());
        else
            std::fputs(r.text.c_str(), stdout);
        code = r.code;
    }
    // Output that never arrived is no success: a full disk or a closed pipe
    // must not look like a good reading to the script that reads it.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "loopctl: cannot write the output: %s\n", ErrorText(errno).c_str());
        return kExitSystem;
    }
    return code;
}
