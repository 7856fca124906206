#include "device_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "port_path.h"
#include "port_state.h"

namespace {

int64_t SystemMillis() {
    return MonotonicMillis();
}

}  // namespace

CDeviceSession::CDeviceSession(ISessionHost &host, const PortlinkApi &api, Clock clock)
    : m_host(host), m_link(api, &host), m_clock(clock ? clock : &SystemMillis) {}

void CDeviceSession::UseTcp(const std::string &host, int port) {
    m_transport = LINK_TCP;
    m_hostName = host;
    m_tcpPort = port;
}

std::string CDeviceSession::Describe() const {
    if (OverTcp()) return m_hostName + ":" + std::to_string(m_tcpPort);
    return "COM" + std::to_string(m_port) + " (" + portlink::PortPath(m_port) + ")";
}

void CDeviceSession::Open() {
    if (OverTcp()) {
        m_link.UseHost(m_hostName, m_tcpPort);
        m_link.Open(LINK_TCP, m_host.PortWindow());
    } else {
        m_link.UsePort(m_port, kBaudRate);
        m_link.Open(LINK_SERIAL, m_host.PortWindow());
    }
    m_lossReported = false;
    Reschedule();
}

CDeviceSession::LineState CDeviceSession::State(std::string *reason) const {
    std::string why;
    LineState state = LineState::Open;
    if (OverTcp()) {
        if (m_link.Sending()) return LineState::Opening;
        if (!m_link.Connected()) {
            state = LineState::Failed;
            if (!m_link.ConnectFailure(&why)) why = "no connection";
        }
    } else if (m_link.OpenResult() != PORTLINK_OK) {
        state = LineState::Failed;
        if (m_link.OpenResult() < 0) {
            why = "the line speed is not one the port takes";
        } else {
            // The library only says that it failed; the device file tells the rest.
            const portlink::PortProbe probe = portlink::ProbePort(portlink::PortPath(m_port));
            why = probe.state == PORTLINK_PORT_FREE ? "in use by another program, or it went away"
                                                    : portlink::PortStateText(probe);
        }
    }
    if (reason) *reason = why;
    return state;
}

bool CDeviceSession::ButtonOut() const {
    return m_buttonSentMs >= 0 && m_clock() - m_buttonSentMs < kButtonAnswerMs;
}

bool CDeviceSession::Idle() const {
    return !m_request.active && !ButtonOut();
}

bool CDeviceSession::Settling() const {
    if (!m_settling) return false;
    const int64_t quietSince = std::max(m_settleFromMs, m_lastArrivalMs);
    return m_clock() - quietSince < m_settleMs;
}

bool CDeviceSession::CanSendNow() const {
    // Over TCP a frame handed over while the previous send worker runs would
    // be dropped: the request waits for it instead.
    if (OverTcp() && m_link.Sending()) return false;
    return !ButtonOut() && !Settling();
}

void CDeviceSession::SendCommandFrame(const uint8_t *frame, int32_t length) {
    // A button is the operator's word: whatever waits for quiet gives way.
    m_settling = false;
    m_buttonSentMs = m_clock();
    m_lossReported = false;
    const uint8_t command = length > static_cast<int32_t>(kOffsetCommand) ? frame[kOffsetCommand] : 0;
    if (command == CMD_SET_CONFIG_DATA && length >= static_cast<int32_t>(kConfigWriteFrameSize)) {
        for (size_t i = 0; i < kConfigValueCount; ++i)
            m_buttonWritten[i] = ReadBe16(frame, kWriteOffsetBlock + 2 * i);
    }
    m_link.AwaitAnswer(AnswerSize(command));
    if (OverTcp()) {
        // Over TCP the answer can arrive before Send has even returned, so
        // the gathering starts afresh before the frame goes.
        m_link.ResetRxCount();
        m_link.Send(frame, length);
    } else {
        // The answer is picked up on the ticks; the send's result tells
        // nothing they would not.
        m_link.Send(frame, length);
        m_link.ResetRxCount();
    }
    Reschedule(true);
}

CDeviceSession::Submitted CDeviceSession::Submit(const SessionRequest &request,
                                                 ISessionClient *client) {
    if (m_request.active || ButtonOut()) return Submitted::Busy;
    m_request = {};
    m_request.active = true;
    m_request.request = request;
    m_request.client = client;
    m_request.submittedMs = m_clock();
    if (CanSendNow()) return SendRequest();
    Reschedule();
    return Submitted::Queued;
}

CDeviceSession::Submitted CDeviceSession::SendRequest() {
    const SessionRequest &r = m_request.request;
    uint8_t frame[kConfigWriteFrameSize];
    int32_t length = static_cast<int32_t>(kReadFrameSize);
    if (r.command == CMD_SET_CONFIG_DATA) {
        const ConfigWriteFrame write = BuildConfigWriteFrame(r.values);
        std::memcpy(frame, write.data(), write.size());
        length = static_cast<int32_t>(write.size());
    } else {
        const ReadFrame &read =
            r.command == CMD_GET_CONFIG_DATA ? BuildConfigReadFrame() : BuildAdcReadFrame();
        std::memcpy(frame, read.data(), read.size());
    }
    if (!r.quiet) m_host.OnSend(r.command);
    m_settling = false;
    m_lossReported = false;
    m_link.AwaitAnswer(AnswerSize(r.command));
    if (OverTcp()) {
        m_link.ResetRxCount();
        m_link.Send(frame, length);
    } else {
        const int32_t sent = m_link.Send(frame, length);
        if (sent != PORTLINK_OK) {
            // A port whose device went away answers every call with a
            // failure; a read tells that apart from a port that is not open.
            m_link.ReadSerial();
            std::string why;
            if (m_link.LinkLost(&why)) {
                m_lossReported = true;
                m_host.OnNotice("Line lost: " + why);
                End(RequestOutcome::Status::LineLost, nullptr, why);
            } else {
                End(RequestOutcome::Status::NotSent, nullptr,
                    sent == PORTLINK_NOT_IN_TABLE ? "the port is not open"
                                                  : "writecom answered " + std::to_string(sent));
            }
            Reschedule();
            return Submitted::Failed;
        }
        m_link.ResetRxCount();
    }
    m_request.sent = true;
    m_request.sentMs = m_clock();
    Reschedule(true);
    return Submitted::Sent;
}

void CDeviceSession::End(RequestOutcome::Status status, const ResponseOutcome *answer,
                         std::string reason) {
    if (!m_request.active) return;
    RequestOutcome outcome;
    outcome.status = status;
    outcome.command = m_request.request.command;
    if (answer) outcome.answer = *answer;
    outcome.reason = std::move(reason);
    outcome.sentMs = m_request.sent ? m_request.sentMs : 0;
    outcome.endedMs = m_clock();
    if (status == RequestOutcome::Status::TimedOut && m_request.sent) {
        m_settling = true;
        m_settleFromMs = outcome.endedMs;
        m_settleMs = m_request.request.timeoutMs;
        m_lateSentMs = m_request.sentMs;
    }
    ISessionClient *client = m_request.client;
    m_request = {};
    m_link.AwaitAnswer(0);
    // Last: the client may ask for its next request from here.
    if (client) client->OnOutcome(outcome);
}

void CDeviceSession::Forget(ISessionClient *client) {
    if (m_request.active && m_request.client == client) {
        m_request.client = nullptr;
        // Not sent yet: nobody wants it any more.
        if (!m_request.sent) m_request = {};
    }
}

void CDeviceSession::Remember(const ResponseOutcome &out, const ConfigValues &written) {
    if (!out.checksumOk) return;
    if (out.kind == ResponseOutcome::Kind::Ok && out.hasConfig) m_lastConfig = out.config;
    if (out.kind == ResponseOutcome::Kind::Ok && out.command == CMD_SET_CONFIG_DATA)
        m_lastConfig = written;
}

void CDeviceSession::HandleFrame(std::span<const uint8_t> frame) {
    const ResponseOutcome out = JudgeFrame(frame);
    // Its last byte came after the request's time-out, though the tick that
    // would have said so came later still (a busy machine): it is late.
    if (m_request.active && m_request.sent &&
        m_lastArrivalMs - m_request.sentMs >= m_request.request.timeoutMs)
        CheckDeadlines();
    const bool answersRequest =
        m_request.active && m_request.sent &&
        (out.kind == ResponseOutcome::Kind::Malformed ||
         (out.kind != ResponseOutcome::Kind::UnknownCommand &&
          out.command == m_request.request.command));
    if (answersRequest) {
        Remember(out, m_request.request.values);
        m_host.OnFrame(out, m_request.request.quiet);
        End(RequestOutcome::Status::Answered, &out, {});
        return;
    }
    if (Settling() && !ButtonOut()) {
        // The answer of a request given up: it belongs to nobody now.
        char text[160];
        std::snprintf(text, sizeof text, "Late answer dropped: %s %lld ms after its request",
                      *CommandName(out.command) ? CommandName(out.command) : "a frame",
                      static_cast<long long>(m_clock() - m_lateSentMs));
        m_host.OnNotice(text);
        return;
    }
    // A button's answer, or a frame nobody asked for: the dialog's to show.
    const bool wasButton = ButtonOut();
    m_buttonSentMs = -1;
    if (wasButton) m_link.AwaitAnswer(m_request.active ? AnswerSize(m_request.request.command) : 0);
    Remember(out, m_buttonWritten);
    m_host.OnFrame(out, false);
}

void CDeviceSession::NoteArrivals() {
    const uint32_t arrivals = m_link.Arrivals();
    if (arrivals != m_arrivals) {
        m_arrivals = arrivals;
        m_lastArrivalMs = m_clock();
    }
}

void CDeviceSession::ReportDiscarded() {
    const uint32_t dropped = m_link.TakeDiscarded();
    if (dropped == 0) return;
    char text[96];
    std::snprintf(text, sizeof text, "Dropped %u byte%s that made no answer",
                  static_cast<unsigned>(dropped), dropped == 1 ? "" : "s");
    m_host.OnNotice(text);
}

void CDeviceSession::CheckLoss() {
    std::string why;
    if (m_lossReported || !m_link.LinkLost(&why)) return;
    // Otherwise the log would stop at the request, as if the device were only
    // slow to answer; it is said once per request.
    m_lossReported = true;
    m_host.OnNotice("Line lost: " + why);
    if (m_request.active && m_request.sent) End(RequestOutcome::Status::LineLost, nullptr, why);
}

void CDeviceSession::CheckDeadlines() {
    if (!m_request.active) return;
    const int64_t now = m_clock();
    const SessionRequest &r = m_request.request;
    if (m_request.sent) {
        if (now - m_request.sentMs >= r.timeoutMs) {
            char why[64];
            std::snprintf(why, sizeof why, "no answer within %lld ms",
                          static_cast<long long>(r.timeoutMs));
            End(RequestOutcome::Status::TimedOut, nullptr, why);
        }
        return;
    }
    if (CanSendNow()) {
        SendRequest();
        return;
    }
    // Waiting to go out: for quiet after a late answer, or for the previous
    // send, but not for ever.
    const int64_t allowed = r.timeoutMs + (m_settling ? m_settleMs : 0);
    if (now - m_request.submittedMs >= allowed) {
        End(RequestOutcome::Status::TimedOut, nullptr,
            OverTcp() && m_link.Sending() ? "the previous send has not ended"
                                          : "the line did not go quiet");
    }
}

void CDeviceSession::OnPortMessage(uint32_t message, uint32_t, int32_t lParam) {
    if (message != PORTLINK_WM_PORT_NOTIFY || lParam != static_cast<int32_t>(m_link.m_nPort) ||
        m_link.m_nTransport != LINK_SERIAL)
        return;
    m_link.ReadSerial();
    NoteArrivals();
    // A frame now complete is taken at the next turn of the loop rather than
    // at the running timer's next period.
    Reschedule(m_link.FrameGathered());
}

void CDeviceSession::Tick() {
    m_link.Tick();
    NoteArrivals();
    ReportDiscarded();
    CheckLoss();
    const std::span<const uint8_t> frame = m_link.TakeFrame();
    if (!frame.empty()) HandleFrame(frame);
    if (m_settling && !Settling()) m_settling = false;
    CheckDeadlines();
    if (m_tickMode == TickMode::At) m_tickMode = TickMode::Running;
    Reschedule();
}

void CDeviceSession::Reschedule(bool soon) {
    // Over TCP bytes arrive on the link's own threads, which cannot restart
    // the host's timer: it keeps running there. On a serial port every
    // arrival comes through OnPortMessage, so once the idle gap has passed
    // with nothing to complete the host may sleep until the next deadline.
    const bool gathering = OverTcp() || !m_link.Quiet() || soon;
    if (gathering) {
        if (soon || m_tickMode != TickMode::Running) {
            m_host.StartTicks(soon ? 0 : kTickMs);
            m_tickMode = TickMode::Running;
        }
        return;
    }
    int64_t due = -1;
    const auto sooner = [&](int64_t at) { due = due < 0 ? at : std::min(due, at); };
    if (m_request.active) {
        const SessionRequest &r = m_request.request;
        if (m_request.sent) {
            sooner(m_request.sentMs + r.timeoutMs);
        } else {
            sooner(m_request.submittedMs + r.timeoutMs + (m_settling ? m_settleMs : 0));
            if (m_settling) sooner(std::max(m_settleFromMs, m_lastArrivalMs) + m_settleMs);
            if (ButtonOut()) sooner(m_buttonSentMs + kButtonAnswerMs);
        }
    }
    if (due < 0) {
        if (m_tickMode != TickMode::Stopped) m_host.StopTicks();
        m_tickMode = TickMode::Stopped;
        return;
    }
    if (m_tickMode == TickMode::At && m_tickAt == due) return;
    const int64_t wait = std::max<int64_t>(0, due - m_clock());
    m_host.StartTicks(static_cast<unsigned>(wait));
    m_tickMode = TickMode::At;
    m_tickAt = due;
}
