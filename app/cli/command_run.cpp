// One command on one device: the request sent (again while retries last),
// its outcome awaited, judged, reported and, after a write, read back.
#include "command_run.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include "clock.h"
#include "config_file.h"
#include "config_names.h"
#include "files.h"
#include "settings.h"

CRun::CRun(const Options &o, int port, const std::string &prefix)
    : m_o(o), m_port(port), m_prefix(prefix), m_host(stderr, prefix), m_session(m_host) {
    m_host.Attach(&m_session);
    if (o.settings.empty()) {
        const SettingsFiles files = ProgramSettingsFiles();
        m_settingsPath = files.path;
        m_settingsFallback = files.fallback;
    } else {
        m_settingsPath = o.settings;
    }
}

std::string CRun::PortText() const {
    if (!m_o.tcpHost.empty()) return m_o.tcpHost + ":" + std::to_string(m_o.tcpPort);
    return m_session.Describe();
}

int64_t CRun::TimeoutMs() const {
    return std::llround(m_o.timeoutSeconds * 1000.0);
}

std::string CRun::TimeoutText() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", m_o.timeoutSeconds);
    return seconds;
}

int CRun::Fail(int code, const std::string &message) {
    m_host.Say(message);
    m_result.json["error"] = message;
    m_result.json["exit"] = code;
    m_result.error = message;
    return code;
}

bool CRun::Request(const SessionRequest &request, RequestOutcome *outcome) {
    m_outcome.reset();
    const CDeviceSession::Submitted submitted = m_session.Submit(request, this);
    // Nothing else is out in a run of its own.
    if (submitted == CDeviceSession::Submitted::Busy) {
        outcome->status = RequestOutcome::Status::NotSent;
        outcome->reason = "another request is on its way";
        return true;
    }
    // The session ends every request, answered or not, within its time-out
    // and the time a late answer before it may take to pass; the bound here
    // only guards against a session that would not.
    const int64_t giveUp = MonotonicMillis() + 3 * TimeoutMs() + 1000;
    while (!m_outcome && MonotonicMillis() < giveUp) {
        if (!m_host.RunOnce(static_cast<int>(TimeoutMs()))) return false;
    }
    if (!m_outcome) {
        m_session.Forget(this);
        outcome->status = RequestOutcome::Status::TimedOut;
        outcome->reason = "no answer within " + TimeoutText();
        return true;
    }
    *outcome = *m_outcome;
    return true;
}

int CRun::Judge(const RequestOutcome &outcome) {
    using Status = RequestOutcome::Status;
    switch (outcome.status) {
        case Status::Answered:
            return outcome.Succeeded() ? kExitOk : kExitDeviceError;
        case Status::TimedOut:
            return kExitTimeout;
        case Status::LineLost:
            return Fail(kExitLineLost, "lost " + PortText() + " before the answer: " + outcome.reason);
        case Status::NotSent:
            break;
    }
    return Fail(kExitPortOpen, "cannot send to " + PortText() + ": " + outcome.reason);
}

int CRun::Exchange(uint8_t command, const ConfigValues &values, ResponseOutcome *answer) {
    SessionRequest request;
    request.command = command;
    request.values = values;
    request.timeoutMs = TimeoutMs();
    for (int attempt = 0;; ++attempt) {
        RequestOutcome outcome;
        if (!Request(request, &outcome)) return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
        if (outcome.status == RequestOutcome::Status::Answered) *answer = outcome.answer;
        const int code = Judge(outcome);
        if (code != kExitTimeout) return code;
        // Only the last try is reported: an earlier silence that a retry
        // mended is no failure.
        if (attempt >= m_o.retries)
            return Fail(kExitTimeout, "no answer from " + PortText() + " within " + TimeoutText());
        m_host.Say("no answer, sending again (" + std::to_string(attempt + 1) + " of " +
                   std::to_string(m_o.retries) + ")");
    }
}

int CRun::Report(const ResponseOutcome &out) {
    DescribeAnswer(
        out, m_o.command == Command::ConfigWrite && out.kind != ResponseOutcome::Kind::Malformed,
        m_result.json, m_result.text);
    if (out.kind == ResponseOutcome::Kind::Ok) return kExitOk;
    return Fail(kExitDeviceError, std::string("the device answered with an error: ") + ResultText(out));
}

// The write's "CRC16 Ok!" says the block arrived whole; reading it back says
// the device keeps what was meant.
int CRun::Verify() {
    ResponseOutcome readBack;
    const int code = Exchange(CMD_GET_CONFIG_DATA, {}, &readBack);
    if (code != kExitOk) {
        if (code == kExitDeviceError)
            Fail(code, std::string("verify: the read back failed: ") + ResultText(readBack));
        m_result.json["verified"] = false;
        return code;
    }
    std::vector<std::string> differ;
    std::string detail;
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (readBack.config[i] == m_o.written[i]) continue;
        const std::string name = ConfigValueName(i);
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
    m_result.json["file"] = m_o.file;
    m_result.json["same"] = device == m_o.written;
    if (device == m_o.written) {
        m_result.text += "same as " + m_o.file + "\n";
        return kExitOk;
    }
    std::string detail;
    Json names = Json::array();
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        if (device[i] == m_o.written[i]) continue;
        const std::string name = ConfigValueName(i);
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
    if (m_o.command == Command::Calibrate) {
        m_result.code = Calibrate();
        return m_result;
    }
    uint8_t command = CMD_GET_ADC_VALUE;
    if (m_o.command == Command::ConfigRead || m_o.command == Command::ConfigDiff)
        command = CMD_GET_CONFIG_DATA;
    if (m_o.command == Command::ConfigWrite) command = CMD_SET_CONFIG_DATA;
    ResponseOutcome answer;
    code = Exchange(command, m_o.written, &answer);
    if (code == kExitOk || code == kExitDeviceError) {
        code = Report(answer);
        if (code == kExitOk && m_o.verify) code = Verify();
        if (code == kExitOk && m_o.command == Command::ConfigDiff) code = Diff(answer);
    }
    m_result.code = code;
    return m_result;
}
