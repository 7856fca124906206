#include "live_presenter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string CLivePresenter::ValueText(int channel) const {
    const CLiveViewModel &model = m_live.Model();
    char text[128];
    if (model.Size() == 0) {
        std::snprintf(text, sizeof text, "CH.%d   -", channel + 1);
        return text;
    }
    const uint16_t adc = model.At(model.Size() - 1).adc[static_cast<size_t>(channel)];
    int n = std::snprintf(text, sizeof text, "CH.%d   %u", channel + 1, adc);
    if (const auto d = model.Derived(channel, adc)) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "   %.*f mA   %.1f",
                           kMilliampDecimals, d->milliamps, d->display);
        if (d->level != LoopLevel::Normal)
            std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "   (%s)",
                          LevelText(d->level));
    }
    return text;
}

std::string CLivePresenter::SummaryText() const {
    const CLiveViewModel &model = m_live.Model();
    char text[96];
    std::snprintf(text, sizeof text, "%llu samples, %llu failed",
                  static_cast<unsigned long long>(model.Stats(0).Count()),
                  static_cast<unsigned long long>(model.Failures()));
    return text;
}

std::string CLivePresenter::CaptureProblem(const CaptureResult &result) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Only %.1f s of steady readings since the last start, resume or change of "
                  "value; a capture needs %.0f s.",
                  result.steadySeconds, CLiveViewModel::kCaptureSeconds);
    return text;
}

std::array<int, 3> CLivePresenter::Marks() const {
    return Milliamps() ? std::array<int, 3>{4, 12, 20} : std::array<int, 3>{0, 2048, 4095};
}

std::string CLivePresenter::Legend() const {
    char text[64];
    std::snprintf(text, sizeof text, "%s, last %.0f s", Milliamps() ? "mA" : "ADC",
                  m_live.Model().TrendSeconds());
    return text;
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
