#include "loopset_dlg.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "clock.h"
#include "config_fields.h"
#include "files.h"
#include "frames.h"
#include "text_number.h"
#include "settings.h"

namespace {

constexpr unsigned kTimerId = 0;
constexpr unsigned kTimerPeriodMs = 2;
constexpr int32_t kBaudRate = 115200;

constexpr char kLogChecksumError[] = "ERROR CRC";

}  // namespace

CLoopsetDlg::CLoopsetDlg(ILoopsetView &view, std::string settingsPath, const PortlinkApi &api)
    : m_view(view), m_link(api, &view), m_settingsPath(std::move(settingsPath)) {}

// The link's destructor closes its serial port, which stops that port's
// listener before the view's window goes away.
CLoopsetDlg::~CLoopsetDlg() = default;

bool CLoopsetDlg::OnInitDialog() {
    m_view.SetIcons();
    std::string fallback;
    if (m_settingsPath.empty()) {
        const SettingsFiles files = ProgramSettingsFiles();
        m_settingsPath = files.path;
        fallback = files.fallback;
    }

    const int port = ReadComPort(m_settingsPath, fallback);
    m_view.SetPortSelection(port - 1);
    m_link.UsePort(static_cast<uint8_t>(m_view.GetPortSelection() + 1), kBaudRate);
    // A port that will not open is reported by the link; start-up goes on.
    m_link.Open(m_nTransport, m_view.PortWindow());

    AddLog("Start!");
    m_view.StartTimer(kTimerId, kTimerPeriodMs);
    m_bTimerRunning = true;
    return true;
}

void CLoopsetDlg::UseTcp(const std::string &host, int port) {
    m_nTransport = LINK_TCP;
    m_link.UseHost(host, port);
}

bool CLoopsetDlg::LiveRequestOut() const {
    return m_liveSentMs >= 0 && MonotonicMillis() - m_liveSentMs < kCommandAnswerMs;
}

void CLoopsetDlg::SendCommand(const char *logText, const uint8_t *frame, int32_t length) {
    m_commandSentMs = MonotonicMillis();
    if (LiveRequestOut()) {
        // The live view's answer is on its way: reopening the port or
        // gathering afresh now would lose it, and it would stand in for this
        // request's. The request goes once that answer is in (a click after
        // another in the meantime replaces it).
        m_deferred.logText = logText;
        m_deferred.length = std::min<int32_t>(length, sizeof m_deferred.frame);
        std::memcpy(m_deferred.frame, frame, static_cast<size_t>(m_deferred.length));
        WakeTimer();
        return;
    }
    m_bLossLogged = false;
    if (m_nTransport == LINK_TCP) {
        AddLog(logText);
        // Over TCP the answer can arrive before Send has even returned, so the
        // gathering starts afresh before the frame goes.
        m_link.ResetRxCount();
        m_link.Send(frame, length);
        return;
    }
    // No selection (text typed into the selector) gives port 0, whose open
    // fails and says so.
    m_link.UsePort(static_cast<uint8_t>(m_view.GetPortSelection() + 1), kBaudRate);
    m_link.Open(LINK_SERIAL, m_view.PortWindow());
    StorePort();
    AddLog(logText);
    // The answer is picked up by the timer; the send's result tells nothing
    // the timer would not.
    m_link.Send(frame, length);
    m_link.ResetRxCount();
    WakeTimer();
}

void CLoopsetDlg::SendDeferred() {
    if (m_deferred.length == 0 || LiveRequestOut()) return;
    const DeferredCommand command = m_deferred;
    m_deferred.length = 0;
    SendCommand(command.logText, command.frame, command.length);
}

bool CLoopsetDlg::LinkIsQuiet() const {
    // Over TCP bytes arrive on the link's own threads, which cannot restart a
    // window's timer: it keeps running there. On a serial port every arrival
    // comes through PreTranslateMessage. Once the idle gap has passed and no
    // gathered frame can complete, a tick would change nothing.
    return m_deferred.length == 0 && m_link.m_nTransport != LINK_TCP && m_link.Quiet();
}

void CLoopsetDlg::WakeTimer() {
    if (m_bTimerRunning) return;
    // The first tick comes as soon as the loop is free, never inside the
    // read that woke it, and no later than a free-running timer's would.
    m_view.StartTimer(kTimerId, kTimerPeriodMs, 0);
    m_bTimerRunning = true;
}

void CLoopsetDlg::StorePort() {
    if (!m_bStorePort) return;
    if (!WriteComPort(m_settingsPath, m_link.m_nPort))
        m_view.OnSettingsNotStored(m_settingsPath, ErrorText(errno));
}

void CLoopsetDlg::OnBtnAdcRead() {
    const ReadFrame &frame = BuildAdcReadFrame();
    SendCommand("Send ADC Read", frame.data(), static_cast<int32_t>(frame.size()));
}

void CLoopsetDlg::OnBtnConfigRead() {
    const ReadFrame &frame = BuildConfigReadFrame();
    SendCommand("Send Config Read", frame.data(), static_cast<int32_t>(frame.size()));
}

void CLoopsetDlg::OnBtnConfigWrite() {
    ConfigValues values{};
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        // Each field is read with room for 15 characters and the terminator.
        const std::string text = m_view.GetFieldText(kConfigFieldTable[i].id);
        const size_t n = text.copy(m_fieldText, sizeof m_fieldText - 1);
        m_fieldText[n] = '\0';
        values[i] = FieldTextToWord(m_fieldText);
    }
    m_writtenConfig = values;
    const ConfigWriteFrame frame = BuildConfigWriteFrame(values);
    SendCommand("Send Config Write", frame.data(), static_cast<int32_t>(frame.size()));
}

CLoopsetDlg::LiveSend CLoopsetDlg::SendLiveRead() {
    if (m_commandSentMs >= 0 && MonotonicMillis() - m_commandSentMs < kCommandAnswerMs)
        return LiveSend::Busy;
    m_commandSentMs = -1;
    const ReadFrame &frame = BuildAdcReadFrame();
    const auto length = static_cast<int32_t>(frame.size());
    m_liveSentMs = MonotonicMillis();
    if (m_nTransport == LINK_TCP) {
        m_link.ResetRxCount();
        m_link.Send(frame.data(), length);
        return LiveSend::Sent;
    }
    if (m_link.Send(frame.data(), length) != 0) {
        m_liveSentMs = -1;
        return LiveSend::Failed;
    }
    m_link.ResetRxCount();
    WakeTimer();
    return LiveSend::Sent;
}

bool CLoopsetDlg::PreTranslateMessage(const WindowMessage &msg) {
    if (msg.message == PORTLINK_WM_PORT_NOTIFY &&
        msg.lParam == static_cast<int32_t>(m_link.m_nPort) && m_link.m_nTransport == LINK_SERIAL) {
        m_link.ReadSerial();
        // A frame now complete is taken at the next turn of the loop rather
        // than at the running timer's next period.
        if (m_link.FrameGathered()) m_bTimerRunning = false;
        WakeTimer();
    }
    return false;
}

uint16_t CLoopsetDlg::ShowValue(int id, const uint8_t *frame, size_t offset) {
    const uint16_t value = ReadBe16(frame, offset);
    char text[8];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    m_view.SetFieldText(id, text);
    return value;
}

void CLoopsetDlg::LogResponse(const ResponseOutcome &out, const std::string &text) {
    if (!out.live) AddLog(text);
}

void CLoopsetDlg::Conclude(ResponseOutcome &out, ResponseOutcome::Kind kind, const char *text) {
    out.kind = kind;
    out.text = text;
    LogResponse(out, text);
}

void CLoopsetDlg::OnTimer(unsigned) {
    m_link.Tick();
    // A request that waited for the live view's answer goes once that is
    // in, or given up.
    if (!m_link.FrameReady()) SendDeferred();
    // Otherwise the log would stop at the request, as if the device were
    // only slow to answer.
    std::string reason;
    if (!m_bLossLogged && m_link.LinkLost(&reason)) {
        m_bLossLogged = true;
        AddLog("Line lost: " + reason);
    }
    const std::span<const uint8_t> frame = m_link.TakeFrame();
    if (frame.empty()) {
        // Nothing is being gathered: the window sleeps until a send or an arrival.
        if (LinkIsQuiet()) {
            m_view.StopTimer(kTimerId);
            m_bTimerRunning = false;
        }
        return;
    }
    OnFrame(frame);
}

void CLoopsetDlg::OnFrame(std::span<const uint8_t> frame) {
    using Kind = ResponseOutcome::Kind;
    ResponseOutcome out;
    const uint8_t *f = frame.data();
    const auto n = static_cast<int32_t>(frame.size());
    // The live view's answer is the first ADC response while its request is
    // out; anything else is some other request's, and logged as ever (and the
    // live view's answer is then not coming: the device answers in turn).
    const bool liveOut = m_liveSentMs >= 0 && MonotonicMillis() - m_liveSentMs < kCommandAnswerMs;
    m_liveSentMs = -1;
    out.live = liveOut && n > static_cast<int32_t>(kOffsetCommand) &&
               f[kOffsetCommand] == CMD_GET_ADC_VALUE;
    if (!out.live) m_commandSentMs = -1;
    LogResponse(out, "Serial Full");
    // A frame too short to hold its control byte cannot pass the test; reading
    // on would test a byte of an older frame.
    if (n < static_cast<int32_t>(kMinFrameSize) || f[0] != STX || f[n - 1] != ETX ||
        f[kOffsetControl] != CONTROL_RESPONSE) {
        Conclude(out, Kind::Malformed, "ERROR STX or ETX or Contol");
        m_view.OnResponse(out);
        return;
    }
    out.command = f[kOffsetCommand];
    out.status = f[kOffsetStatus];
    // A wrong checksum is reported, not fatal.
    out.checksumOk = XorChecksum(f, static_cast<size_t>(n - 2)) == f[n - 2];
    if (!out.checksumOk) LogResponse(out, kLogChecksumError);
    const Kind success = out.checksumOk ? Kind::Ok : Kind::ChecksumError;

    // A response shorter than its command's size cannot carry the values it is
    // read for; reading on would show bytes of an older frame.
    switch (out.command) {
        case CMD_GET_ADC_VALUE:
            LogResponse(out, "CMD_GET_ADC_VALUE");
            if (n >= static_cast<int32_t>(kAdcResponseSize) && out.status == STATUS_OK &&
                f[kAdcOffsetChannelCount] == kAdcChannelCount) {
                out.hasAdc = out.hasExtra = true;
                out.ch1 = ShowValue(IDC_ADC_CH1, f, kAdcOffsetCh1);
                out.ch2 = ShowValue(IDC_ADC_CH2, f, kAdcOffsetCh2);
                out.extra = ShowValue(IDC_EXTRA_VALUE, f, kAdcOffsetExtra);
                Conclude(out, success, "Ok!");
            } else {
                Conclude(out, Kind::Refused, "Error response!");
            }
            break;
        case CMD_GET_CONFIG_DATA:
            AddLog("CMD_GET_CONFIG_DATA");
            if (n >= static_cast<int32_t>(kConfigReadResponseSize) && out.status == STATUS_OK) {
                out.hasConfig = out.hasExtra = true;
                for (size_t i = 0; i < kConfigValueCount; ++i)
                    out.config[i] = ShowValue(kConfigFieldTable[i].id, f, kConfigReadOffsetValues + 2 * i);
                out.extra = ShowValue(IDC_EXTRA_VALUE, f, kConfigReadOffsetExtra);
                if (out.checksumOk) m_lastConfig = out.config;
                Conclude(out, success, "Ok!");
            } else {
                Conclude(out, Kind::Refused, "Error response!");
            }
            break;
        case CMD_SET_CONFIG_DATA:
            AddLog("CMD_SET_CONFIG_DATA");
            if (n >= static_cast<int32_t>(kConfigWriteResponseSize) &&
                (out.status == STATUS_OK || out.status == STATUS_CRC_ERROR)) {
                out.hasExtra = true;
                out.extra = ShowValue(IDC_EXTRA_VALUE, f, kConfigWriteOffsetExtra);
                if (out.status == STATUS_OK && out.checksumOk) m_lastConfig = m_writtenConfig;
                if (out.status == STATUS_OK)
                    Conclude(out, success, "CRC16 Ok!");
                else
                    Conclude(out, Kind::Refused, "CRC16 Error!");
            } else {
                Conclude(out, Kind::Refused, "Error response!");
            }
            break;
        default:
            out.kind = Kind::UnknownCommand;
            break;
    }
    // Values read from a frame whose checksum failed are shown, but the
    // response's word on them is the checksum's.
    if (out.kind == Kind::ChecksumError) out.text = kLogChecksumError;
    m_view.OnResponse(out);
    SendDeferred();
}

void CLoopsetDlg::OnOK() {
    // Enter in a field must not close the window.
}

void CLoopsetDlg::OnCancel() {
    m_view.EndDialog(kDialogCancel);
}

void CLoopsetDlg::AddLog(const std::string &text) {
    m_view.SetLogText(m_log.Append(text));
    m_view.ScrollLogToEnd();
}
