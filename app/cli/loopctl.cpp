// loopctl: the device work of loopset's three buttons without a window. It
// hosts the same dialog behaviour with a console view, so a script or a
// production line gets exactly what an operator gets.
#include <getopt.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console_view.h"
#include "frames.h"
#include "text_number.h"
#include "loopset_dlg.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitDeviceError = 1,  // the device answered, but not with success
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitPortOpen = 4,
    kExitSystem = 5,
};

enum class Command { Adc, ConfigRead, ConfigWrite };

struct Options {
    Command command = Command::Adc;
    const char *commandName = "";
    int port = 0;  // 0: the one stored in the settings
    std::string device;
    std::string tcpHost;  // not empty: the device is reached over TCP
    int tcpPort = 0;
    std::string settings;
    double timeoutSeconds = 1.0;
    bool json = false;
    std::vector<std::string> values;
};

constexpr int kConfigFields[8] = {IDC_CH1_REF_MIN,  IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN,
                                  IDC_CH1_DISP_MAX, IDC_CH2_REF_MIN, IDC_CH2_REF_MAX,
                                  IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX};

void Usage(FILE *out) {
    fprintf(out,
            "usage: loopctl [--port N | --device PATH | --tcp HOST:PORT] [--timeout S] [--json]\n"
            "               [--settings FILE] adc | config-read | config-write V1 .. V8\n"
            "\n"
            "  adc            read the ADC values of both channels\n"
            "  config-read    read the configuration (per channel: ADC reference min, max,\n"
            "                 display value min, max)\n"
            "  config-write   write it: CH.1 ref min, ref max, disp min, disp max, then CH.2\n"
            "                 likewise; each 0 to 65535\n"
            "\n"
            "  --port N       COM port 1 to 30 (default: the one last used, from config.ini)\n"
            "  --device PATH  the device file to use as COM port N (1 without --port)\n"
            "  --tcp HOST:PORT  reach the device over TCP (a serial gateway, or loopsim --tcp)\n"
            "                 instead of a COM port; HOST is a dotted address or a name of\n"
            "                 at most 15 characters\n"
            "  --timeout S    seconds to wait for the answer (default 1)\n"
            "  --json         print the result as one JSON object\n"
            "  --settings F   settings file to use instead of config.ini beside the program\n"
            "\n"
            "The log lines go to standard error. Exit status: 0 success, 1 the device\n"
            "answered with an error, 2 bad usage, 3 no answer in time, 4 the port would not\n"
            "open (or the TCP connection could not be made), 5 a system error.\n");
}

bool ParseInt(const char *text, long min, long max, long *value) {
    errno = 0;
    char *end = nullptr;
    const long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

int UsageError(const char *fmt, const char *arg) {
    fprintf(stderr, "loopctl: ");
    fprintf(stderr, fmt, arg);
    fprintf(stderr, "\n(see loopctl --help)\n");
    return kExitUsage;
}

// HOST:PORT, the host as the link holds it (at most 15 characters).
bool ParseTcpAddress(const char *text, Options *o) {
    const char *colon = strrchr(text, ':');
    if (!colon || colon == text) return false;
    const size_t hostLength = static_cast<size_t>(colon - text);
    if (hostLength >= sizeof(CDeviceLink::m_szHost)) return false;
    long port;
    if (!ParseInt(colon + 1, 1, 65535, &port)) return false;
    o->tcpHost.assign(text, hostLength);
    o->tcpPort = static_cast<int>(port);
    return true;
}

// Returns -1 when the options are good, else the exit code.
int ParseOptions(int argc, char **argv, Options *o) {
    static const option longOptions[] = {
        {"port", required_argument, nullptr, 'p'}, {"device", required_argument, nullptr, 'd'},
        {"tcp", required_argument, nullptr, 'T'},  {"timeout", required_argument, nullptr, 't'},
        {"json", no_argument, nullptr, 'j'},       {"settings", required_argument, nullptr, 's'},
        {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0}};
    int c;
    opterr = 0;
    while ((c = getopt_long(argc, argv, "+p:d:t:js:h", longOptions, nullptr)) != -1) {
        long v;
        switch (c) {
            case 'p':
                if (!ParseInt(optarg, 1, 30, &v))
                    return UsageError("--port needs a number from 1 to 30, not '%s'", optarg);
                o->port = static_cast<int>(v);
                break;
            case 'd':
                if (!*optarg) return UsageError("--device needs a path%s", "");
                o->device = optarg;
                break;
            case 'T':
                if (!ParseTcpAddress(optarg, o))
                    return UsageError(
                        "--tcp needs HOST:PORT (a host of at most 15 characters, a port from 1 "
                        "to 65535), not '%s'",
                        optarg);
                break;
            case 't': {
                char *end = nullptr;
                const double t = strtod(optarg, &end);
                if (end == optarg || *end != '\0' || !std::isfinite(t) || t <= 0 || t > 3600)
                    return UsageError("--timeout needs seconds (0 < S <= 3600), not '%s'", optarg);
                o->timeoutSeconds = t;
                break;
            }
            case 'j':
                o->json = true;
                break;
            case 's':
                o->settings = optarg;
                break;
            case 'h':
                Usage(stdout);
                return kExitOk;
            default:
                return UsageError("unknown or incomplete option '%s'", argv[optind - 1]);
        }
    }
    if (!o->tcpHost.empty() && (o->port != 0 || !o->device.empty()))
        return UsageError("--tcp goes without --port and --device%s", "");
    if (optind >= argc) return UsageError("which command?%s", "");
    const std::string command = argv[optind++];
    o->commandName = argv[optind - 1];
    if (command == "adc") {
        o->command = Command::Adc;
    } else if (command == "config-read") {
        o->command = Command::ConfigRead;
    } else if (command == "config-write") {
        o->command = Command::ConfigWrite;
    } else {
        return UsageError("unknown command '%s'", command.c_str());
    }
    for (; optind < argc; ++optind) o->values.push_back(argv[optind]);
    if (o->command == Command::ConfigWrite) {
        if (o->values.size() != 8) return UsageError("config-write needs 8 values%s", "");
        for (const std::string &value : o->values) {
            long v;
            if (!ParseInt(value.c_str(), 0, 65535, &v))
                return UsageError("a value must be a number from 0 to 65535, not '%s'",
                                  value.c_str());
        }
    } else if (!o->values.empty()) {
        return UsageError("'%s' takes no values", o->commandName);
    }
    return -1;
}

const char *ExpectedCommandLog(Command command) {
    switch (command) {
        case Command::Adc:
            return "CMD_GET_ADC_VALUE";
        case Command::ConfigRead:
            return "CMD_GET_CONFIG_DATA";
        case Command::ConfigWrite:
            return "CMD_SET_CONFIG_DATA";
    }
    return "";
}

struct Outcome {
    bool answered = false;
    bool success = false;
    std::string result;  // the dialog's last log text for the answer
};

// Reads the log entries of one processed frame. A frame that answers another
// command (a late answer to an earlier request) or no command at all is not
// this command's answer.
Outcome Judge(const std::vector<std::string> &entries, size_t from, Command command) {
    Outcome out;
    bool checksumBad = false;
    bool ours = false;
    for (size_t i = from; i < entries.size(); ++i) {
        const std::string &e = entries[i];
        if (e == "ERROR STX or ETX or Contol") {
            out.answered = true;
            out.result = e;
            return out;
        }
        if (e == "ERROR CRC") checksumBad = true;
        if (e == ExpectedCommandLog(command)) ours = true;
        if (ours) out.result = e;
    }
    if (!ours) return out;
    out.answered = true;
    // A checksum mismatch is logged and the values are still shown, but they
    // may be wrong: a script must not take them as good.
    out.success = !checksumBad && (out.result == "Ok!" || out.result == "CRC16 Ok!");
    if (checksumBad && out.result != "Error response!") out.result = "ERROR CRC";
    return out;
}

std::string Field(ConsoleView &view, int id) {
    return view.GetFieldText(id);
}

// Where the device is, as the JSON output names it.
std::string JsonWhere(const Options &o, int port) {
    if (o.tcpHost.empty()) return "\"port\": " + std::to_string(port);
    return "\"tcp\": \"" + o.tcpHost + ":" + std::to_string(o.tcpPort) + "\"";
}

void PrintResult(const Options &o, int port, ConsoleView &view, const Outcome &out) {
    const std::string extra = Field(view, IDC_EXTRA_VALUE);
    if (o.json) {
        printf("{%s, \"command\": \"%s\", \"result\": \"%s\"", JsonWhere(o, port).c_str(),
               o.commandName, out.result.c_str());
        if (o.command == Command::Adc) {
            printf(", \"ch1\": %s, \"ch2\": %s", Field(view, IDC_ADC_CH1).c_str(),
                   Field(view, IDC_ADC_CH2).c_str());
        } else if (o.command == Command::ConfigRead) {
            static const char *names[4] = {"ref_min", "ref_max", "disp_min", "disp_max"};
            for (int ch = 0; ch < 2; ++ch) {
                printf(", \"ch%d\": {", ch + 1);
                for (int i = 0; i < 4; ++i)
                    printf("%s\"%s\": %s", i ? ", " : "", names[i],
                           Field(view, kConfigFields[ch * 4 + i]).c_str());
                printf("}");
            }
        }
        printf(", \"extra\": %s}\n", extra.c_str());
        return;
    }
    if (o.command == Command::Adc) {
        printf("CH.1   %s\nCH.2   %s\nextra  %s\n", Field(view, IDC_ADC_CH1).c_str(),
               Field(view, IDC_ADC_CH2).c_str(), extra.c_str());
    } else if (o.command == Command::ConfigRead) {
        printf("       ADC Reference    Display Value\n");
        printf("         Min     Max      Min     Max\n");
        for (int ch = 0; ch < 2; ++ch) {
            printf("CH.%d", ch + 1);
            for (int i = 0; i < 4; ++i)
                printf("%s%6s", i == 2 ? "   " : "  ",
                       Field(view, kConfigFields[ch * 4 + i]).c_str());
            printf("\n");
        }
        printf("extra  %s\n", extra.c_str());
    } else {
        printf("%s\nextra  %s\n", out.result.c_str(), extra.c_str());
    }
}

int Fail(const Options &o, int port, int code, const std::string &message) {
    fprintf(stderr, "loopctl: %s\n", message.c_str());
    if (o.json)
        printf("{%s, \"command\": \"%s\", \"error\": \"%s\", \"exit\": %d}\n",
               JsonWhere(o, port).c_str(), o.commandName, message.c_str(), code);
    return code;
}

std::string OpenFailure(int port) {
    return "cannot open COM" + std::to_string(port) + " (" + ComDevicePath(port) + ")";
}

std::string TcpAddress(const Options &o) {
    return o.tcpHost + ":" + std::to_string(o.tcpPort);
}

// Over TCP the dialog's serial port is never used: its start-up open goes
// here and succeeds without touching a device.
const PortlinkApi &NoSerialPort() {
    static const PortlinkApi api = {
        [](PortlinkWindow *) -> int32_t { return 1; },
        []() -> int32_t { return 1; },
        [](int32_t) -> int32_t { return 0; },
        [](int32_t, int32_t, int32_t) -> int32_t { return 0; },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t) -> int32_t { return 0; },
        [](int32_t) -> int32_t { return 1; },
        [](int32_t, const uint8_t *, int32_t) -> int32_t { return 0; },
        [](int32_t, uint8_t *, int32_t *count) -> int32_t {
            if (count) *count = 0;
            return 0;
        },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t, int32_t) -> int32_t { return 1; },
    };
    return api;
}

// A button handler's steps over the link's TCP transport: connect (in the
// background, as Open(LINK_TCP) does), log the command as the button does,
// send. Returns -1 when the frame went out, else the exit code.
int SendOverTcp(const Options &o, CLoopsetDlg &dlg, ConsoleView &view,
                std::chrono::steady_clock::time_point deadline) {
    CDeviceLink &link = dlg.Link();
    std::memset(link.m_szHost, 0, sizeof link.m_szHost);
    o.tcpHost.copy(link.m_szHost, sizeof link.m_szHost - 1);
    link.m_nTcpPort = o.tcpPort;
    link.Open(LINK_TCP, view.PortWindow());
    // Settings the link refuses (a host shorter than a dotted address).
    if (!view.Boxes().empty())
        return Fail(o, 0, kExitPortOpen,
                    "cannot connect to " + TcpAddress(o) + " (" + view.Boxes().front() + ")");
    // The timer keeps ticking while the worker connects.
    while (link.m_bSending.load() != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        if (!view.RunOnce(static_cast<int>(left)))
            return Fail(o, 0, kExitSystem, std::string("poll: ") + strerror(errno));
    }
    if (link.m_bSending.load() != 0 || link.m_bConnected.load() == 0) {
        std::string why = "cannot connect to " + TcpAddress(o);
        if (!view.Boxes().empty()) why += " (" + view.Boxes().front() + ")";
        return Fail(o, 0, kExitPortOpen, why);
    }

    const uint8_t *frame = nullptr;
    size_t length = 0;
    ConfigWriteFrame write{};
    switch (o.command) {
        case Command::Adc:
            dlg.AddLog("Send ADC Read");
            frame = BuildAdcReadFrame().data();
            length = kReadFrameSize;
            break;
        case Command::ConfigRead:
            dlg.AddLog("Send Config Read");
            frame = BuildConfigReadFrame().data();
            length = kReadFrameSize;
            break;
        case Command::ConfigWrite: {
            ConfigValues values{};
            for (size_t i = 0; i < kConfigValueCount; ++i)
                values[i] = FieldTextToWord(o.values[i].c_str());
            write = BuildConfigWriteFrame(values);
            dlg.AddLog("Send Config Write");
            frame = write.data();
            length = write.size();
            break;
        }
    }
    // Gathering starts afresh before the frame goes: over TCP the answer can
    // arrive before Send has even returned.
    link.ResetRxCount();
    link.Send(frame, static_cast<int32_t>(length));
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (const int code = ParseOptions(argc, argv, &o); code >= 0) return code;

    if (!o.device.empty()) {
        // portlink reads PORTLINK_COM<n> at every open, so mapping the port
        // here, before the dialog opens it, is all --device needs.
        if (o.port == 0) o.port = 1;
        const std::string name = "PORTLINK_COM" + std::to_string(o.port);
        if (setenv(name.c_str(), o.device.c_str(), 1) != 0)
            return Fail(o, o.port, kExitSystem, std::string("setenv: ") + strerror(errno));
    }

    const bool overTcp = !o.tcpHost.empty();
    ConsoleView view(stderr);
    CLoopsetDlg dlg(view, o.settings, overTcp ? NoSerialPort() : RealPortlink());
    view.Attach(&dlg);
    if (o.port > 0) view.PinPortSelection(o.port - 1);

    dlg.OnInitDialog();
    int port = dlg.Link().m_nPort;
    if (!view.Boxes().empty()) return Fail(o, port, kExitPortOpen, OpenFailure(port));

    if (o.command == Command::ConfigWrite) {
        for (int i = 0; i < 8; ++i) view.SetFieldText(kConfigFields[i], o.values[i]);
    }
    const size_t mark = view.LogEntries().size();
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::microseconds(static_cast<long long>(o.timeoutSeconds * 1e6));
    if (overTcp) {
        if (const int code = SendOverTcp(o, dlg, view, deadline); code >= 0) return code;
    } else {
        switch (o.command) {
            case Command::Adc:
                dlg.OnBtnAdcRead();
                break;
            case Command::ConfigRead:
                dlg.OnBtnConfigRead();
                break;
            case Command::ConfigWrite:
                dlg.OnBtnConfigWrite();
                break;
        }
        port = dlg.Link().m_nPort;
        if (!view.Boxes().empty()) return Fail(o, port, kExitPortOpen, OpenFailure(port));
    }

    size_t judged = mark;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        if (!view.RunOnce(static_cast<int>(left)))
            return Fail(o, port, kExitSystem, std::string("poll: ") + strerror(errno));
        // A processed frame is logged within one tick: judge each tick's lines.
        const std::vector<std::string> &entries = view.LogEntries();
        if (entries.size() == judged) continue;
        const Outcome out = Judge(entries, judged, o.command);
        judged = entries.size();
        if (!out.answered) continue;
        PrintResult(o, port, view, out);
        if (out.success) return kExitOk;
        fprintf(stderr, "loopctl: the device answered with an error: %s\n", out.result.c_str());
        return kExitDeviceError;
    }
    const std::string where =
        overTcp ? TcpAddress(o) : "COM" + std::to_string(port) + " (" + ComDevicePath(port) + ")";
    char message[200];
    snprintf(message, sizeof message, "no answer from %s within %g s", where.c_str(),
             o.timeoutSeconds);
    return Fail(o, port, kExitTimeout, message);
}
