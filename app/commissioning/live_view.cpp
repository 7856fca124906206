#include "live_view.h"

#include <cmath>

#include "config_fields.h"

namespace {

constexpr int kCaptureFields[kChannelCount][2] = {{IDC_CH1_REF_MIN, IDC_CH1_REF_MAX},
                                                  {IDC_CH2_REF_MIN, IDC_CH2_REF_MAX}};

}  // namespace

CLiveView::CLiveView(CLoopsetDlg &dlg) : m_dlg(dlg), m_session(dlg.Session()) {}

CLiveView::~CLiveView() {
    Stop();
}

double CLiveView::Seconds() const {
    return static_cast<double>(m_session.Now() - m_startMs) / 1000.0;
}

void CLiveView::Start() {
    if (m_running) return;
    // What an earlier opening held belongs to that opening: its schedule,
    // its request and its samples would mix into this one's.
    m_session.Forget(this);
    const int rate = m_model.Rate();
    m_model.Reset();
    m_model.SetRate(rate);
    m_startMs = m_session.Now();
    m_running = true;
    m_lineFailed = false;
    UpdateRanges();
    m_dlg.AddLog("Live View Start");
}

void CLiveView::Stop() {
    if (!m_running) return;
    m_running = false;
    m_session.Forget(this);
    m_dlg.AddLog("Live View Stop");
}

void CLiveView::UpdateRanges() {
    if (const auto config = m_session.LastConfig()) {
        m_model.SetRanges(RangesOf(*config));
    } else {
        m_model.SetRanges(std::nullopt);
    }
}

unsigned CLiveView::TickMs() const {
    return static_cast<unsigned>(1000 / m_model.Rate());
}

void CLiveView::SetRate(int perSecond) {
    m_model.SetRate(perSecond);
}

void CLiveView::SetPaused(bool paused) {
    if (!paused && m_model.Paused() && m_lineFailed) {
        m_lineFailed = false;
        m_session.Open();
    }
    m_model.SetPaused(paused, Seconds());
    if (m_onChange) m_onChange();
}

void CLiveView::Tick() {
    if (!m_running) return;
    // A configuration read or written meanwhile changes what readings mean.
    UpdateRanges();
    const double t = Seconds();
    if (!m_model.Due(t)) return;
    SessionRequest request;
    request.command = CMD_GET_ADC_VALUE;
    request.timeoutMs = CDeviceSession::kAnswerTimeoutMs;
    request.quiet = true;
    switch (m_session.Submit(request, this)) {
        case CDeviceSession::Submitted::Sent:
        case CDeviceSession::Submitted::Queued:
            m_model.OnSent(t);
            break;
        case CDeviceSession::Submitted::Busy:  // a button's request is out
        case CDeviceSession::Submitted::Failed:  // told already
            break;
    }
}

void CLiveView::OnOutcome(const RequestOutcome &outcome) {
    using Status = RequestOutcome::Status;
    if (!m_running) return;
    const ResponseOutcome &answer = outcome.answer;
    if (outcome.Succeeded() && answer.hasAdc) {
        m_model.OnAnswer(Seconds(), answer.ch1, answer.ch2);
    } else {
        m_model.OnFailure();
        std::string why = outcome.reason;
        if (outcome.status == Status::Answered)
            why = *ResultText(answer) ? ResultText(answer) : "unknown answer";
        if (outcome.status == Status::LineLost || outcome.status == Status::NotSent) {
            // The line is gone or closed: sending on would fail as often as
            // the rate asks, so the view waits for the operator.
            m_lineFailed = true;
            m_model.SetPaused(true, Seconds());
            why += "; paused";
        }
        m_dlg.AddLog("Live View Error: " + why);
    }
    if (m_onChange) m_onChange();
}

CaptureResult CLiveView::Capture(int channel, bool twentyMilliamps) {
    const CaptureResult result = m_model.CaptureMean(channel, Seconds());
    if (result.mean)
        m_dlg.View().SetFieldText(kCaptureFields[channel][twentyMilliamps ? 1 : 0],
                                  std::to_string(std::lround(*result.mean)));
    return result;
}
