// loopsim: a simulated two-channel 4-20 mA device on a pseudo-terminal.
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_control.h"
#include "sim_endpoint.h"
#include "sim_instrument.h"
#include "sim_tcp.h"

namespace {

const char kUsage[] =
    "Usage: loopsim [options]\n"
    "\n"
    "A simulated two-channel 4-20 mA device. It creates a pseudo-terminal and prints\n"
    "the path a client opens on the first line of standard output; point the\n"
    "program at it with PORTLINK_COM<n>=that-path (COMn being the port it uses).\n"
    "It answers CMD_GET_ADC_VALUE (two drifting channel values, or with --input the\n"
    "counts of a converter reading the applied currents), CMD_GET_CONFIG_DATA (its\n"
    "stored block) and CMD_SET_CONFIG_DATA (checks the CRC16: 0xAA and stores the\n"
    "block, or 0x55 and keeps the old one). Requests with a bad checksum or an unknown\n"
    "command get no answer; garbage before a frame is skipped. Every answer's extra\n"
    "value counts the answers given. One line per request goes to standard error, at\n"
    "most 50 a second for each client; one line counts the rest.\n"
    "\n"
    "Options:\n"
    "  --device PATH    serve an existing serial device (115200 8N1, raw) instead\n"
    "  --tcp PORT       serve TCP clients on 127.0.0.1:PORT instead (0: a free port);\n"
    "                   the first line is then 127.0.0.1:PORT. Clients share the device.\n"
    "  --delay MS       answer MS milliseconds after the request\n"
    "  --split N        send each answer in pieces of N bytes\n"
    "  --pause MS       pause between pieces (garbage, answer pieces, second copy)\n"
    "  --garbage N      send N garbage bytes (never STX) before each answer\n"
    "  --bad-checksum   flip the checksum of every answer\n"
    "  --twice          send every answer twice\n"
    "  --silent         log requests but never answer\n"
    "  --seed N         seed of the drift, the noise and the garbage (default 1)\n"
    "  -h, --help       this text\n"
    "\n"
    "An instrument: with --input, ADC reads answer the counts of a 12-bit converter\n"
    "with 20 mA at full scale, round(mA / 20 * 4095 * gain + offset) within 0-4095,\n"
    "for each channel (4 mA reads 819, 20 mA 4095). One value sets both channels, two\n"
    "set one each. The stored configuration does not change the counts.\n"
    "  --input MA[,MA]  the applied currents in mA, 0-30\n"
    "  --gain G[,G]     the converter's gain, above 0 and at most 2 (default 1;\n"
    "                   0.98 reads 2 % low)\n"
    "  --offset C[,C]   its offset in counts, -4095 to 4095 (default 0)\n"
    "  --noise N        reads off by up to N counts either way, 0-1000 (default 0)\n"
    "  --control PATH   take lines from the FIFO at PATH while serving (made when\n"
    "                   absent and then removed at the end); a line written before a\n"
    "                   request is applied before that request is answered:\n"
    "                     MA1,MA2 or MA   the applied currents (one value: both)\n"
    "                     CH=MA           one channel's current (CH 1 or 2)\n"
    "                     input MA[,MA], gain G[,G], offset C[,C], noise N\n"
    "                   as the options. A bad line is reported on standard error\n"
    "                   and ignored.\n"
    "--gain, --offset, --noise and --control need --input.\n"
    "\n"
    "SIGINT or SIGTERM ends it cleanly; so does the end of the reader when its\n"
    "standard output is a pipe.\n";

bool ParseNumber(const char *text, long max, long &value) {
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (errno || *end || v < 0 || v > max) return false;
    value = v;
    return true;
}

int Fail(const char *message, const char *detail) {
    fprintf(stderr, "loopsim: %s%s%s\nTry 'loopsim --help'.\n", message, detail ? " " : "",
            detail ? detail : "");
    return 2;
}

struct Command {
    SimOptions options;
    SimInstrument instrument;
    const char *control = nullptr;
    const char *device = nullptr;
    long tcpPort = -1;
};

struct InstrumentOption {
    const char *name;
    SimSetting setting;
};

const InstrumentOption kInstrumentOptions[] = {{"--input", SimSetting::Input},
                                               {"--gain", SimSetting::Gain},
                                               {"--offset", SimSetting::Offset},
                                               {"--noise", SimSetting::Noise}};

const InstrumentOption *FindInstrumentOption(const char *arg) {
    for (const InstrumentOption &option : kInstrumentOptions)
        if (!strcmp(arg, option.name)) return &option;
    return nullptr;
}

// A number option's value, taken from argv[i + 1]: false when absent or out of range.
bool TakeNumber(int argc, char **argv, int &i, long max, long &value) {
    if (i + 1 >= argc || !ParseNumber(argv[i + 1], max, value)) return false;
    ++i;
    return true;
}

// Fills command from the arguments. -1 to go on, else the exit status.
int ParseArguments(int argc, char **argv, Command &command) {
    SimOptions &options = command.options;
    const char *needsInput = nullptr;  // the first instrument option that is no use alone
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        auto number = [&](long max) { return TakeNumber(argc, argv, i, max, n); };
        if (!strcmp(arg, "-h") || !strcmp(arg, "--help")) {
            fputs(kUsage, stdout);
            return 0;
        } else if (const InstrumentOption *option = FindInstrumentOption(arg)) {
            if (!value || !SetInstrumentValues(command.instrument, option->setting, value)) {
                char message[128];
                snprintf(message, sizeof message, "%s needs %s%s", arg,
                         SettingRange(option->setting), value ? ", not" : "");
                return Fail(message, value);
            }
            if (option->setting == SimSetting::Input)
                command.instrument.on = true;
            else if (!needsInput)
                needsInput = arg;
            ++i;
        } else if (!strcmp(arg, "--control")) {
            if (!value) return Fail("--control needs the path of a FIFO", nullptr);
            command.control = value;
            if (!needsInput) needsInput = arg;
            ++i;
        } else if (!strcmp(arg, "--device")) {
            if (!value) return Fail("--device needs a path", nullptr);
            command.device = value;
            ++i;
        } else if (!strcmp(arg, "--tcp")) {
            if (!number(65535)) return Fail("--tcp needs a port number (0-65535), not", value);
            command.tcpPort = n;
        } else if (!strcmp(arg, "--delay")) {
            if (!number(600000)) return Fail("--delay needs milliseconds (0-600000), not", value);
            options.delayMs = static_cast<int>(n);
        } else if (!strcmp(arg, "--split")) {
            if (!number(1000) || n == 0)
                return Fail("--split needs a piece size (1-1000), not", value);
            options.splitSize = static_cast<int>(n);
        } else if (!strcmp(arg, "--pause")) {
            if (!number(600000)) return Fail("--pause needs milliseconds (0-600000), not", value);
            options.pauseMs = static_cast<int>(n);
        } else if (!strcmp(arg, "--garbage")) {
            if (!number(100000000)) return Fail("--garbage needs a byte count, not", value);
            options.garbage = static_cast<uint32_t>(n);
        } else if (!strcmp(arg, "--seed")) {
            if (!number(0xFFFFFFFFL)) return Fail("--seed needs a number, not", value);
            options.seed = static_cast<uint32_t>(n);
        } else if (!strcmp(arg, "--bad-checksum")) {
            options.badChecksum = true;
        } else if (!strcmp(arg, "--twice")) {
            options.twice = true;
        } else if (!strcmp(arg, "--silent")) {
            options.silent = true;
        } else {
            return Fail("unknown option", arg);
        }
    }
    if (command.device && command.tcpPort >= 0)
        return Fail("--device and --tcp exclude each other", nullptr);
    if (needsInput && !command.instrument.on)
        return Fail(needsInput, "models an instrument: give the applied currents with --input too");
    return -1;
}

// The stop signals, as readable bytes for the serving loop's poll; -1 on failure.
int OpenStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Started with its output in a pipe (by a test, a script), it ends when the
// reader goes: a crashed test leaves no simulator behind.
int ReaderPipe() {
    struct stat out {};
    return fstat(STDOUT_FILENO, &out) == 0 && S_ISFIFO(out.st_mode) ? STDOUT_FILENO : -1;
}

// The first line of standard output is what a client opens or connects to.
void Announce(const char *where) {
    printf("%s\n", where);
    fflush(stdout);
    fprintf(stderr, "loopsim: serving %s\n", where);
}

int RunTcp(const Command &command, CSimDevice &device, CSimControl *control, int stopFd) {
    char error[512];
    char address[64];
    const int listener = OpenTcpListener(static_cast<int>(command.tcpPort), address, sizeof address,
                                         error, sizeof error);
    if (listener < 0) {
        fprintf(stderr, "loopsim: %s\n", error);
        return 1;
    }
    Announce(address);
    const int result =
        ServeTcp(listener, device, command.options, stopFd, ReaderPipe(), stderr, control);
    close(listener);
    return result;
}

int RunLine(const Command &command, CSimDevice &device, CSimControl *control, int stopFd) {
    char error[512];
    SimEndpoint endpoint;
    const bool opened = command.device
                            ? OpenSerialDevice(command.device, endpoint, error, sizeof error)
                            : OpenPseudoTerminal(endpoint, error, sizeof error);
    if (!opened) {
        fprintf(stderr, "loopsim: %s\n", error);
        return 1;
    }
    Announce(endpoint.path);
    const int result =
        ServeEndpoint(endpoint, device, command.options, stopFd, ReaderPipe(), stderr, control);
    CloseEndpoint(endpoint);
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    Command command;
    const int parsed = ParseArguments(argc, argv, command);
    if (parsed >= 0) return parsed;

    const int stopFd = OpenStopSignals();
    if (stopFd < 0) {
        perror("loopsim: signalfd");
        return 1;
    }
    CSimDevice device(command.options.seed);
    device.Instrument() = command.instrument;
    // Ready before the first line announces the device: a script that waits
    // for that line may write to the FIFO at once.
    CSimControl control;
    if (command.control) {
        char error[512];
        if (!control.Open(command.control, error, sizeof error)) {
            fprintf(stderr, "loopsim: %s\n", error);
            close(stopFd);
            return 1;
        }
    }
    CSimControl *controlOrNone = command.control ? &control : nullptr;
    const int result = command.tcpPort >= 0 ? RunTcp(command, device, controlOrNone, stopFd)
                                            : RunLine(command, device, controlOrNone, stopFd);
    close(stopFd);
    fprintf(stderr, "loopsim: stopped after %lu requests\n", device.Requests());
    return result;
}
