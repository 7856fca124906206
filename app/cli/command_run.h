// One command on one device, start to end, as an operator would do it in the
// window: a dialog of its own behind a console view.
#pragma once

#include <cstdint>
#include <string>

#include "console_view.h"
#include "loopctl_options.h"
#include "loopctl_output.h"
#include "loopset_dlg.h"

// What one run comes to: its status, its JSON object and the lines for a
// person.
struct RunResult {
    int code = kExitOk;
    Json json;
    std::string text;   // the answer's lines
    std::string error;  // why it failed, when it did
    bool streamed = false;  // printed as it went (watch): nothing more to print
};

class CRun {
public:
    // port 0: the one the settings hold. prefix goes before every line
    // written to standard error.
    CRun(const Options &o, int port, const std::string &prefix);
    RunResult Execute();

private:
    int PrepareDevice();
    int Open();
    int WaitForConnection();
    void PressButton(Command command);
    // Sends command (again while retries last) and waits for its answer.
    int Exchange(Command command, ResponseOutcome *answer);
    // kExitTimeout, unreported, when no answer came in time.
    int AwaitAnswer(uint8_t expected, ResponseOutcome *answer);
    int Report(const ResponseOutcome &out);
    int Verify();
    int Diff(const ResponseOutcome &answer);
    int Watch();
    // One ADC read of watch: kExitOk with the values in out, or a failure's
    // code with its reason in error.
    int Sample(ResponseOutcome &out, std::string &error);
    int Fail(int code, const std::string &message);
    std::string PortText() const;
    std::string TimeoutText() const;
    void StartClock();
    int64_t MsLeft() const;

    const Options &m_o;
    int m_port;
    std::string m_prefix;
    ConsoleView m_view;
    CLoopsetDlg m_dlg;
    std::string m_address;  // the TCP host as the link gets it: a dotted address
    int64_t m_deadlineMs = 0;
    RunResult m_result;
};
