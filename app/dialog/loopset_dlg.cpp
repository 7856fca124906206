#include "loopset_dlg.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "config_fields.h"
#include "files.h"
#include "frames.h"
#include "settings.h"
#include "text_number.h"

namespace {

constexpr unsigned kTimerId = 0;

}  // namespace

CLoopsetDlg::CLoopsetDlg(ILoopsetView &view, std::string settingsPath, const PortlinkApi &api)
    : m_view(view), m_settingsPath(std::move(settingsPath)), m_session(*this, api) {}

// The session's link closes its serial port, which stops that port's listener
// before the view's window goes away.
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
    m_session.UseSerial(static_cast<uint8_t>(m_view.GetPortSelection() + 1));
    // A port that will not open is reported by the link; start-up goes on.
    m_session.Open();

    AddLog("Start!");
    m_session.WakeTicks();
    return true;
}

void CLoopsetDlg::UseTcp(const std::string &host, int port) {
    m_session.UseTcp(host, port);
}

void CLoopsetDlg::SendCommand(const char *logText, const uint8_t *frame, int32_t length) {
    if (m_session.RequestPending()) {
        // Another request's answer is on its way: reopening the port or
        // gathering afresh now would lose it, and it would stand in for this
        // request's. The request goes once that answer is in (a click after
        // another in the meantime replaces it).
        m_deferred.logText = logText;
        m_deferred.length = std::min<int32_t>(length, sizeof m_deferred.frame);
        std::memcpy(m_deferred.frame, frame, static_cast<size_t>(m_deferred.length));
        return;
    }
    if (!m_session.OverTcp()) {
        // No selection (text typed into the selector) gives port 0, whose
        // open fails and says so.
        m_session.UseSerial(static_cast<uint8_t>(m_view.GetPortSelection() + 1));
        m_session.Open();
        StorePort();
    }
    AddLog(logText);
    m_session.SendCommandFrame(frame, length);
}

void CLoopsetDlg::SendDeferred() {
    if (m_deferred.length == 0 || m_session.RequestPending()) return;
    const DeferredCommand command = m_deferred;
    m_deferred.length = 0;
    SendCommand(command.logText, command.frame, command.length);
}

void CLoopsetDlg::StorePort() {
    if (!m_bStorePort) return;
    if (!WriteComPort(m_settingsPath, m_session.Port()))
        m_view.OnSettingsNotStored(m_settingsPath, ErrorText(errno));
}

void CLoopsetDlg::OnBtnAdcRead() {
    const ReadFrame &frame = BuildAdcReadFrame();
    SendCommand(SendLogText(CMD_GET_ADC_VALUE), frame.data(), static_cast<int32_t>(frame.size()));
}

void CLoopsetDlg::OnBtnConfigRead() {
    const ReadFrame &frame = BuildConfigReadFrame();
    SendCommand(SendLogText(CMD_GET_CONFIG_DATA), frame.data(),
                static_cast<int32_t>(frame.size()));
}

void CLoopsetDlg::OnBtnConfigWrite() {
    ConfigValues values{};
    for (size_t i = 0; i < kConfigValueCount; ++i) {
        // Each field is read with room for 15 characters and the terminator.
        const std::string text = m_view.GetFieldText(kConfigFieldIds[i]);
        const size_t n = text.copy(m_fieldText, sizeof m_fieldText - 1);
        m_fieldText[n] = '\0';
        values[i] = FieldTextToWord(m_fieldText);
    }
    const ConfigWriteFrame frame = BuildConfigWriteFrame(values);
    SendCommand(SendLogText(CMD_SET_CONFIG_DATA), frame.data(),
                static_cast<int32_t>(frame.size()));
}

bool CLoopsetDlg::PreTranslateMessage(const WindowMessage &msg) {
    m_session.OnPortMessage(msg.message, msg.wParam, msg.lParam);
    return false;
}

void CLoopsetDlg::OnTimer(unsigned) {
    m_session.Tick();
    // A button's request that waited for another's answer goes once that is
    // in, or given up.
    SendDeferred();
}

void CLoopsetDlg::OnFrame(std::span<const uint8_t> frame) {
    Show(JudgeFrame(frame), false);
}

void CLoopsetDlg::ShowValue(int id, uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    m_view.SetFieldText(id, text);
}

void CLoopsetDlg::Show(const ResponseOutcome &out, bool quiet) {
    // The answers of samples (the live view's) fill the fields without a line
    // in the log each.
    const ResponseLogLines lines = LogLinesOf(out);
    if (!quiet)
        for (int i = 0; i + 1 < lines.count; ++i) AddLog(lines.line[i]);
    if (out.hasAdc) {
        ShowValue(IDC_ADC_CH1, out.ch1);
        ShowValue(IDC_ADC_CH2, out.ch2);
    }
    if (out.hasConfig)
        for (size_t i = 0; i < kConfigValueCount; ++i) ShowValue(kConfigFieldIds[i], out.config[i]);
    if (out.hasExtra) ShowValue(IDC_EXTRA_VALUE, out.extra);
    if (quiet) return;
    if (lines.count > 0) AddLog(lines.line[lines.count - 1]);
    m_view.OnResponse(out);
}

void CLoopsetDlg::ShowLinkWarning(LinkWarning which, const std::string &designed,
                                  const std::string &first, const std::string &second) {
    const UiText text = which == LinkWarning::BadBaudRate      ? UiText::BadBaudRate
                        : which == LinkWarning::CannotOpenPort ? UiText::CannotOpenPort
                                                               : UiText::BadIpSettings;
    const std::string words = m_view.Texts().Text(text);
    // The designed text itself where the window speaks the designed language.
    m_view.ShowWarning(words == SourceText(text) ? designed : Fill(words, {first, second}));
}

void CLoopsetDlg::StartTicks(unsigned firstMs) {
    m_view.StartTimer(kTimerId, CDeviceSession::kTickMs, firstMs);
}

void CLoopsetDlg::StopTicks() {
    m_view.StopTimer(kTimerId);
}

void CLoopsetDlg::OnSend(uint8_t command) {
    AddLog(SendLogText(command));
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
