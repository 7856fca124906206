#include "live_view.h"

#include <cmath>

namespace {

constexpr int kCaptureFields[kChannelCount][2] = {{IDC_CH1_REF_MIN, IDC_CH1_REF_MAX},
                                                  {IDC_CH2_REF_MIN, IDC_CH2_REF_MAX}};

}  // namespace

void CLiveView::Start(double now) {
    if (m_running) return;
    m_running = true;
    m_start = now;
    UpdateRanges();
    m_dlg.AddLog("Live View Start");
}

void CLiveView::Stop() {
    if (!m_running) return;
    m_running = false;
    m_dlg.AddLog("Live View Stop");
}

void CLiveView::UpdateRanges() {
    if (const auto config = m_dlg.LastConfig()) {
        m_model.SetRanges(RangesOf(*config));
    } else {
        m_model.SetRanges(std::nullopt);
    }
}

unsigned CLiveView::TickMs() const {
    return static_cast<unsigned>(1000 / m_model.Rate());
}

void CLiveView::Tick(double now) {
    if (!m_running) return;
    const double t = now - m_start;
    if (m_model.Expired(t)) m_dlg.AddLog("Live View Error: no answer");
    // A configuration read or written meanwhile changes what readings mean.
    UpdateRanges();
    if (!m_model.Due(t)) return;
    switch (m_dlg.SendLiveRead()) {
        case CLoopsetDlg::LiveSend::Sent:
            m_model.OnSent(t);
            break;
        case CLoopsetDlg::LiveSend::Busy:
            break;
        case CLoopsetDlg::LiveSend::Failed:
            // The port is closed or gone: sending on would fail as often as
            // the rate asks, so the view waits for the operator.
            m_model.OnFailure(t);
            m_model.SetPaused(true);
            m_dlg.AddLog("Live View Error: the port is not open; paused");
            break;
    }
}

bool CLiveView::OnResponse(const ResponseOutcome &out, double now) {
    if (!out.live) return false;
    const double t = now - m_start;
    if (out.kind == ResponseOutcome::Kind::Ok && out.hasAdc) {
        m_model.OnAnswer(t, out.ch1, out.ch2);
    } else {
        m_model.OnFailure(t);
        m_dlg.AddLog(std::string("Live View Error: ") + (*out.text ? out.text : "unknown answer"));
    }
    return true;
}

bool CLiveView::Capture(int channel, bool twentyMilliamps, double now) {
    const auto mean = m_model.CaptureMean(channel, now - m_start);
    if (!mean) return false;
    m_view.SetFieldText(kCaptureFields[channel][twentyMilliamps ? 1 : 0],
                        std::to_string(std::lround(*mean)));
    return true;
}
