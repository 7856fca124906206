// CDeviceSession: one device on one line, for every front end (the dialog's
// buttons, loopctl, watch, the live view, calibration). It owns the link and
// where it leads (a COM port or a TCP host), sends requests and pairs each
// answer with its request, and says what became of every request: the
// device's answer, no answer in time, the line lost, or not sent at all.
//
// Requests of the front ends beyond the three buttons go one at a time: a
// request waits for the previous send to have ended (never dropped by the TCP
// transport's busy flag), its answer is the first frame of its command that
// arrives before its time-out, and an answer that comes later belongs to no
// request: it is dropped and said so, and after a time-out the next request
// waits until the line has been quiet for as long as that time-out, so that
// a late answer is never taken for the next one.
//
// The dialog's three buttons keep their own behaviour: the frame goes out as
// it is, and whatever frame comes next is the dialog's to show.
//
// Everything runs on the host's UI thread: the host hands it portlink's
// messages and calls Tick when the ticks it asked for are due.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device_link.h"
#include "frame_judge.h"
#include "response_outcome.h"

// What became of one request.
struct RequestOutcome {
    enum class Status : uint8_t {
        Answered,  // the device answered: answer says how
        TimedOut,  // no answer within the request's time-out
        LineLost,  // the line went away before the answer (hang-up, TCP peer gone)
        NotSent,   // the request could not go out (the port is not open)
    };
    Status status = Status::NotSent;
    uint8_t command = 0;  // what was asked
    ResponseOutcome answer;
    // Why, for every status but Answered: one line a person can act on.
    std::string reason;
    int64_t sentMs = 0;   // on the session's clock; 0 when it never went out
    int64_t endedMs = 0;

    bool Succeeded() const {
        return status == Status::Answered && answer.kind == ResponseOutcome::Kind::Ok;
    }
};

struct SessionRequest {
    uint8_t command = CMD_GET_ADC_VALUE;
    ConfigValues values{};  // a configuration write's
    int64_t timeoutMs = 1000;
    // A sample (watch, the live view, calibration's readings): its sending
    // and its answer leave no lines in the log.
    bool quiet = false;
};

class ISessionClient {
public:
    virtual ~ISessionClient() = default;
    virtual void OnOutcome(const RequestOutcome &outcome) = 0;
};

// What the session needs of whoever runs it.
class ISessionHost : public ILinkMessages {
public:
    // The window portlink posts its notifications to.
    virtual PortlinkWindow *PortWindow() = 0;
    // Calls the session's Tick every CDeviceSession::kTickMs, the first time
    // after firstMs (0: as soon as the loop is free); starting again starts
    // afresh.
    virtual void StartTicks(unsigned firstMs) = 0;
    virtual void StopTicks() = 0;
    // A request that is not quiet goes out now.
    virtual void OnSend(uint8_t /*command*/) {}
    // Every frame the session took in and judged, but a late one: quiet when
    // it answers a quiet request.
    virtual void OnFrame(const ResponseOutcome & /*out*/, bool /*quiet*/) {}
    // A line for the log: a late answer dropped, bytes that made no frame,
    // the line lost.
    virtual void OnNotice(const std::string & /*text*/) {}
};

class CDeviceSession {
public:
    static constexpr unsigned kTickMs = 2;
    static constexpr int32_t kBaudRate = 115200;
    static constexpr int64_t kAnswerTimeoutMs = 1000;
    // A button's request counts as out until its answer, or this long.
    static constexpr int64_t kButtonAnswerMs = 1000;
    using Clock = int64_t (*)();

    explicit CDeviceSession(ISessionHost &host, const PortlinkApi &api = RealPortlink(),
                            Clock clock = nullptr);
    CDeviceSession(const CDeviceSession &) = delete;
    CDeviceSession &operator=(const CDeviceSession &) = delete;

    // Where the device is: a COM port, or a TCP host (a dotted address of at
    // most 15 characters) and port. Takes effect at the next Open.
    void UseSerial(uint8_t port) { m_port = port; }
    void UseTcp(const std::string &host, int port);
    bool OverTcp() const { return m_transport == LINK_TCP; }
    uint8_t Port() const { return m_port; }
    // "COM3 (/dev/ttyUSB0)" or "HOST:PORT".
    std::string Describe() const;

    // Opens the line again: a COM port is closed and opened (a failure is
    // shown by the link's warning box), a TCP connection is started in the
    // background. See State.
    void Open();
    enum class LineState { Open, Opening, Failed };
    // Where the last Open stands; *reason says why it failed.
    LineState State(std::string *reason = nullptr) const;

    // The dialog's buttons: the frame goes out as it is and its answer is
    // whatever frame comes next (OnFrame, never quiet).
    void SendCommandFrame(const uint8_t *frame, int32_t length);

    enum class Submitted {
        Sent,    // on its way; the client hears of it
        Queued,  // goes out once the line allows; the client hears of it
        Busy,    // another request is out: try again later
        Failed,  // could not go out; the client has heard of it already
    };
    Submitted Submit(const SessionRequest &request, ISessionClient *client);
    // A request of a client's is queued or out.
    bool RequestPending() const { return m_request.active; }
    // Neither a request nor a button's frame waits for its answer.
    bool Idle() const;
    // The client goes away: it hears nothing more; its answer, if any, is
    // still taken quietly.
    void Forget(ISessionClient *client);

    // portlink's notification for our port: pulls what waits. Never consumes.
    void OnPortMessage(uint32_t message, uint32_t wParam, int32_t lParam);
    void Tick();
    // Asks the host for a tick at once (a host that starts up with its timer
    // running, as the dialog does); the session stops it again when idle.
    void WakeTicks() { Reschedule(true); }

    // The configuration last read from the device, or written to it and
    // acknowledged: what its readings are to be understood by.
    const std::optional<ConfigValues> &LastConfig() const { return m_lastConfig; }
    bool LineLost(std::string *reason = nullptr) const { return m_link.LinkLost(reason); }
    int64_t Now() const { return m_clock(); }
    // Another clock (milliseconds that only go forward), for tests.
    void SetClock(Clock clock) { m_clock = clock; }

    // For tests and tools that look at the gathering itself.
    const CDeviceLink &Link() const { return m_link; }
    CDeviceLink &Link() { return m_link; }

private:
    struct Request {
        bool active = false;
        bool sent = false;
        SessionRequest request;
        ISessionClient *client = nullptr;
        int64_t submittedMs = 0, sentMs = 0;
    };
    enum class TickMode { Stopped, Running, At };

    bool ButtonOut() const;
    bool Settling() const;
    bool CanSendNow() const;
    Submitted SendRequest();
    void End(RequestOutcome::Status status, const ResponseOutcome *answer, std::string reason);
    void HandleFrame(std::span<const uint8_t> frame);
    void Remember(const ResponseOutcome &out, const ConfigValues &written);
    void NoteArrivals();
    void ReportDiscarded();
    void CheckLoss();
    void CheckDeadlines();
    void Reschedule(bool soon = false);

    ISessionHost &m_host;
    CDeviceLink m_link;
    Clock m_clock;
    uint8_t m_port = 1;
    uint8_t m_transport = LINK_SERIAL;
    std::string m_hostName;
    int m_tcpPort = 0;

    Request m_request;
    int64_t m_buttonSentMs = -1;
    ConfigValues m_buttonWritten{};
    // After a request that had no answer: its time-out and its send, so that
    // a late answer is known for one and the next request waits for quiet.
    bool m_settling = false;
    int64_t m_settleFromMs = 0, m_settleMs = 0, m_lateSentMs = 0;
    uint32_t m_arrivals = 0;
    int64_t m_lastArrivalMs = 0;
    bool m_lossReported = false;
    std::optional<ConfigValues> m_lastConfig;
    TickMode m_tickMode = TickMode::Stopped;
    int64_t m_tickAt = 0;
};
