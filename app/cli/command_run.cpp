// One command on one device: the request sent (again while retries last),
// its answer awaited, judged, reported and, after a write, read back.
#include "command_run.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include "clock.h"
#include "config_fields.h"
#include "config_file.h"
#include "files.h"
#include "port_path.h"
#include "port_problem.h"

namespace {

uint8_t ExpectedCommand(Command command) {
    switch (command) {
        case Command::Adc:
        case Command::Watch:
            return CMD_GET_ADC_VALUE;
        case Command::ConfigRead:
        case Command::ConfigDiff:
            return CMD_GET_CONFIG_DATA;
        case Command::ConfigWrite:
            return CMD_SET_CONFIG_DATA;
        case Command::Ports:
            break;
    }
    return 0;
}

}  // namespace

CRun::CRun(const Options &o, int port, const std::string &prefix)
    : m_o(o), m_port(port), m_prefix(prefix), m_view(stderr, prefix), m_dlg(m_view, o.settings) {
    m_view.Attach(&m_dlg);
}

void CRun::StartClock() {
    m_deadlineMs =
        MonotonicMillis() + static_cast<int64_t>(std::llround(m_o.timeoutSeconds * 1000.0));
}

int64_t CRun::MsLeft() const {
    return m_deadlineMs - MonotonicMillis();
}

std::string CRun::PortText() const {
    if (!m_o.tcpHost.empty()) return m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    return "COM" + std::to_string(m_port) + " (" + portlink::PortPath(m_port) + ")";
}

std::string CRun::TimeoutText() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", m_o.timeoutSeconds);
    return seconds;
}

int CRun::Fail(int code, const std::string &message) {
    std::fprintf(stderr, "loopctl: %s%s\n", m_prefix.c_str(), message.c_str());
    m_result.json["error"] = message;
    m_result.json["exit"] = code;
    m_result.error = message;
    return code;
}

int CRun::Exchange(Command command, ResponseOutcome *answer) {
    for (int attempt = 0;; ++attempt) {
        PressButton(command);
        // The time-out counts from each request, as the operator's wait does.
        StartClock();
        m_port = m_dlg.Link().m_nPort;
        if (m_o.tcpHost.empty() && !m_view.Boxes().empty())
            return Fail(kExitPortOpen, "cannot open " + PortText() + ": " +
                                           PortOpenProblem(portlink::PortPath(m_port)));
        const int code = AwaitAnswer(ExpectedCommand(command), answer);
        if (code != kExitTimeout) return code;
        // Only the last try is reported: an earlier silence that a retry
        // mended is no failure.
        if (attempt >= m_o.retries)
            return Fail(kExitTimeout, "no answer from " + PortText() + " within " + TimeoutText());
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
    return kExitTimeout;
}

int CRun::Report(const ResponseOutcome &out) {
    DescribeAnswer(
        out, m_o.command == Command::ConfigWrite && out.kind != ResponseOutcome::Kind::Malformed,
        m_result.json, m_result.text);
    if (out.kind == ResponseOutcome::Kind::Ok) return kExitOk;
    return Fail(kExitDeviceError, std::string("the device answered with an error: ") + out.text);
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
        const std::string name =
            std::string(kConfigFieldTable[i].channel) + "." + kConfigFieldTable[i].name;
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

// The device's configuration against a saved one.
int CRun::Diff(const ResponseOutcome &answer) {
    const ConfigValues &device = answer.config;
    const std::string differ = DifferingFields(device, m_o.written);
    m_result.json["file"] = m_o.file;
    m_result.json["same"] = differ.empty();
    if (differ.empty()) {
        m_result.text += "same as " + m_o.file + "\n";
        return kExitOk;
    }
    std::string detail;
    Json names = Json::array();
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (device[i] == m_o.written[i]) continue;
        const std::string name =
            std::string(kConfigFieldTable[i].channel) + "." + kConfigFieldTable[i].name;
        names.push_back(name);
        detail += (detail.empty() ? "" : ", ") + name + " " + std::to_string(device[i]) +
                  " (file " + std::to_string(m_o.written[i]) + ")";
    }
    m_result.json["differ"] = names;
    m_result.text += "differs from " + m_o.file + ": " + detail + "\n";
    return kExitDeviceError;
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
    if (m_o.command == Command::Watch) {
        m_result.code = Watch();
        m_result.streamed = true;
        return m_result;
    }
    ResponseOutcome answer;
    code = Exchange(m_o.command, &answer);
    if (code == kExitOk || code == kExitDeviceError) {
        code = Report(answer);
        if (code == kExitOk && m_o.verify) code = Verify();
        if (code == kExitOk && m_o.command == Command::ConfigDiff) code = Diff(answer);
    }
    m_result.code = code;
    return m_result;
}
