// One command on one device, start to end, through a device session of its
// own on a console: the line opened, the request sent (again while retries
// last) and paired with its answer, the outcome judged, reported and, after
// a write, read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console_host.h"
#include "device_session.h"
#include "loop_values.h"
#include "loopctl_options.h"
#include "loopctl_output.h"

// What one run comes to: its status, its JSON object and the lines for a
// person.
struct RunResult {
    int code = kExitOk;
    Json json;
    std::string text;   // the answer's lines
    std::string error;  // why it failed, when it did
    bool streamed = false;  // printed as it went (watch): nothing more to print
};

class CSampleStats;
class CCalibration;
struct CalRecord;

class CRun : private ISessionClient {
public:
    // One sample of watch as a line of text, CSV or JSON.
    struct SampleLine {
        Json json;
        std::string text, csv;
    };

    // port 0: the one the settings hold. prefix goes before every line
    // written to standard error.
    CRun(const Options &o, int port, const std::string &prefix);
    RunResult Execute();

private:
    int PrepareDevice();
    int Open();
    void StorePort();
    // Sends the request (again while retries last) and waits for its outcome;
    // the answer's judgement in *answer when the device answered.
    int Exchange(uint8_t command, const ConfigValues &values, ResponseOutcome *answer);
    // One request and its outcome; false when waiting failed (errno).
    bool Request(const SessionRequest &request, RequestOutcome *outcome);
    // The exit status an outcome comes to, with its failure reported.
    int Judge(const RequestOutcome &outcome);
    int Report(const ResponseOutcome &out);
    int Verify();
    int Diff(const ResponseOutcome &answer);
    int Watch();
    SampleLine LineOf(const RequestOutcome &outcome, const std::optional<LoopRanges> &ranges,
                      CSampleStats *stats) const;
    // False when standard output could not take it (errno says why).
    bool Print(const SampleLine &line) const;
    void PrintSummary(uint64_t samples, uint64_t failures, const CSampleStats *stats) const;
    int Calibrate();
    bool ApplySource(const CCalibration &cal, std::string *why, int *code);
    int SaveRecord(const CalRecord &record);
    int Fail(int code, const std::string &message);
    // "COM3 (/dev/ttyUSB0)", or the host as given and its port.
    std::string PortText() const;
    std::string TimeoutText() const;
    int64_t TimeoutMs() const;

    void OnOutcome(const RequestOutcome &outcome) override { m_outcome = outcome; }

    const Options &m_o;
    int m_port;
    std::string m_prefix;
    std::string m_settingsPath, m_settingsFallback;
    bool m_storePort = true;
    CConsoleHost m_host;
    CDeviceSession m_session;
    std::optional<RequestOutcome> m_outcome;
    double m_applied = 0;  // the current the operator says is applied
    RunResult m_result;
};
