#include "live_presenter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "machine_text.h"

std::string CLivePresenter::ValueText(int channel) const {
    const CLiveViewModel &model = m_live.Model();
    const std::string ch = std::to_string(channel + 1);
    if (model.Size() == 0) return Fill(Tr(UiText::LiveNoValue), {ch});
    const uint16_t adc = model.At(model.Size() - 1).adc[static_cast<size_t>(channel)];
    const auto d = model.Derived(channel, adc);
    if (!d) return Fill(Tr(UiText::LiveRawValue), {ch, std::to_string(adc)});
    std::string text = Fill(Tr(UiText::LiveDerivedValue), {ch, std::to_string(adc),
                                                           FixedText(d->milliamps, kMilliampDecimals),
                                                           FixedText(d->display, 1)});
    if (d->level != LoopLevel::Normal)
        text += "   " + Tr(d->level == LoopLevel::Failure ? UiText::LevelFailure : UiText::LevelOutOfRange);
    return text;
}

std::string CLivePresenter::WidestValueText() const {
    return Fill(Tr(UiText::LiveDerivedValue), {"2", "65535", "-0000.000", "-00000.0"}) + "   " +
           Tr(UiText::LevelOutOfRange);
}

std::string CLivePresenter::SummaryText() const {
    const CLiveViewModel &model = m_live.Model();
    return Fill(Tr(UiText::LiveSummary),
                {std::to_string(model.Stats(0).Count()), std::to_string(model.Failures())});
}

std::string CLivePresenter::WidestSummaryText() const {
    return Fill(Tr(UiText::LiveSummary), {"0000000000", "0000000000"});
}

std::string CLivePresenter::CaptureProblem(const CaptureResult &result) const {
    return Fill(Tr(UiText::LiveCaptureProblem),
                {FixedText(result.steadySeconds, 1), FixedText(CLiveViewModel::kCaptureSeconds, 0)});
}

std::array<int, 3> CLivePresenter::Marks() const {
    return Milliamps() ? std::array<int, 3>{4, 12, 20} : std::array<int, 3>{0, 2048, 4095};
}

std::string CLivePresenter::Legend() const {
    return Fill(Tr(Milliamps() ? UiText::LiveLegendMa : UiText::LiveLegendAdc),
                {FixedText(m_live.Model().TrendSeconds(), 0)});
}

double CLivePresenter::Y(const TrendArea &area, double value) const {
    const double top = Milliamps() ? 24.0 : 4095.0;
    return area.top + area.height - std::clamp(value / top, 0.0, 1.0) * area.height;
}

void CLivePresenter::TrendPoints(int channel, const TrendArea &area,
                                 std::vector<TrendPoint> &points) const {
    const CLiveViewModel &model = m_live.Model();
    points.clear();
    const size_t n = model.Size();
    if (n == 0) return;
    const bool milliamps = Milliamps();
    const double span = model.TrendSeconds();
    const double end = model.At(n - 1).seconds;
    for (size_t i = 0; i < n; ++i) {
        const LiveSample &s = model.At(i);
        if (end - s.seconds > span) continue;
        const uint16_t adc = s.adc[static_cast<size_t>(channel)];
        const auto d = model.Derived(channel, adc);
        const double v = milliamps ? (d ? d->milliamps : 0) : adc;
        const TrendPoint point = {
            static_cast<int>(std::lround(area.left + area.width - (end - s.seconds) / span * area.width)),
            static_cast<int>(std::lround(Y(area, v)))};
        // One point a pixel column: the newest of the column.
        if (!points.empty() && points.back().x == point.x)
            points.back() = point;
        else
            points.push_back(point);
    }
}
