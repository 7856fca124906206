#include "live_view_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>

#include "clock.h"

namespace {

const QColor kChannelColours[kChannelCount] = {QColor(0, 90, 200), QColor(200, 60, 0)};

QString ValueText(const CLiveViewModel &model, int channel) {
    if (model.Size() == 0) return QStringLiteral("CH.%1   -").arg(channel + 1);
    const uint16_t adc = model.At(model.Size() - 1).adc[static_cast<size_t>(channel)];
    QString text = QStringLiteral("CH.%1   %2").arg(channel + 1).arg(adc);
    if (const auto d = model.Derived(channel, adc)) {
        text += QStringLiteral("   %1 mA   %2").arg(d->milliamps, 0, 'f', 2).arg(d->display, 0, 'f', 1);
        if (d->level != LoopLevel::Normal)
            text += QStringLiteral("   (%1)").arg(QString::fromUtf8(LevelText(d->level)));
    }
    return text;
}

}  // namespace

double LiveNow() {
    return static_cast<double>(MonotonicMicros()) / 1e6;
}

CTrendView::CTrendView(const CLiveViewModel &model, QWidget *parent)
    : QWidget(parent), m_model(model) {
    setMinimumSize(360, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTrendView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QRectF area = QRectF(rect()).adjusted(36, 8, -8, -18);
    // Loop current when the ranges are known, else the raw counts of a 12-bit
    // converter.
    const bool milliamps = m_model.Ranges().has_value();
    const double top = milliamps ? 24.0 : 4095.0;
    auto y = [&](double v) { return area.bottom() - std::clamp(v / top, 0.0, 1.0) * area.height(); };
    const size_t n = m_model.Size();
    const double span = m_model.TrendSeconds();
    // The grid and its texts change only with the size, the unit and the span:
    // drawn once into a picture, not ten times a second.
    const QString legend = QStringLiteral("%1, last %2 s").arg(milliamps ? "mA" : "ADC").arg(span);
    if (m_background.size() != size() * devicePixelRatio() || m_legend != legend) {
        m_legend = legend;
        m_background = QPixmap(size() * devicePixelRatio());
        m_background.setDevicePixelRatio(devicePixelRatio());
        m_background.fill(Qt::white);
        QPainter b(&m_background);
        b.setPen(Qt::lightGray);
        b.drawRect(area);
        b.setPen(Qt::darkGray);
        const std::array<double, 3> marks =
            milliamps ? std::array<double, 3>{4, 12, 20} : std::array<double, 3>{0, 2048, 4095};
        for (double v : marks) {
            b.drawText(QRectF(0, y(v) - 8, 32, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(v));
            b.drawLine(QPointF(area.left(), y(v)), QPointF(area.right(), y(v)));
        }
        b.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignRight, legend);
    }
    p.drawPixmap(0, 0, m_background);
    if (n == 0) return;
    const double end = m_model.At(n - 1).seconds;
    auto x = [&](double t) { return area.right() - (end - t) / span * area.width(); };
    // One point a pixel column at most, into buffers kept from paint to paint:
    // redrawn ten times a second, the trend must cost next to nothing.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        QPolygonF &line = m_lines[ch];
        line.clear();
        for (size_t i = 0; i < n; ++i) {
            const LiveSample &s = m_model.At(i);
            if (end - s.seconds > span) continue;
            const uint16_t adc = s.adc[static_cast<size_t>(ch)];
            const auto d = m_model.Derived(ch, adc);
            const QPointF point(std::round(x(s.seconds)), y(milliamps ? (d ? d->milliamps : 0) : adc));
            if (!line.isEmpty() && line.back().x() == point.x())
                line.back() = point;
            else
                line.append(point);
        }
        // Two one-pixel lines, a pixel apart: a wider pen is stroked as an
        // outline, which costs several times as much.
        p.setPen(QPen(kChannelColours[ch], 0));
        p.drawPolyline(line);
        line.translate(0, 1);
        p.drawPolyline(line);
    }
}

CLiveViewWindow::CLiveViewWindow(CLiveView &live, QWidget *owner)
    : QWidget(owner, Qt::Window), m_live(live) {
    setWindowTitle(QStringLiteral("Live view"));
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_values[ch] = new QLabel(this);
        // Fixed, so that a new value redraws the label alone and does not lay
        // the whole window out again, ten times a second.
        m_values[ch]->setFixedSize(
            m_values[ch]->fontMetrics().boundingRect(QStringLiteral("CH.0   65535   -0000.00 mA   -00000.0   (out of range)")).size() +
            QSize(8, 4));
        QPalette palette = m_values[ch]->palette();
        palette.setColor(QPalette::WindowText, kChannelColours[ch]);
        m_values[ch]->setPalette(palette);
        grid->addWidget(m_values[ch], ch, 0);
        for (int end = 0; end < 2; ++end) {
            auto *button = new QPushButton(end ? QStringLiteral("Use as 20 mA")
                                               : QStringLiteral("Use as 4 mA"),
                                           this);
            connect(button, &QPushButton::clicked, this, [this, ch, end] {
                if (!m_live.Capture(ch, end == 1, LiveNow()))
                    QMessageBox::warning(this, windowTitle(),
                                         QStringLiteral("No reading in the last 2 seconds."));
            });
            m_capture[ch][end] = button;
            grid->addWidget(button, ch, 1 + end);
        }
    }
    layout->addLayout(grid);
    m_trend = new CTrendView(m_live.Model(), this);
    layout->addWidget(m_trend, 1);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Samples a second:"), this));
    m_rate = new QSpinBox(this);
    m_rate->setRange(CLiveViewModel::kMinRate, CLiveViewModel::kMaxRate);
    m_rate->setValue(m_live.Model().Rate());
    connect(m_rate, &QSpinBox::valueChanged, this, [this](int rate) {
        m_live.Model().SetRate(rate);
        m_timer->setInterval(static_cast<int>(m_live.TickMs()));
    });
    row->addWidget(m_rate);
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        m_live.Model().SetPaused(paused);
        m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    });
    row->addWidget(m_pause);
    auto *save = new QPushButton(QStringLiteral("Save as CSV"), this);
    connect(save, &QPushButton::clicked, this, [this] { SaveCsv(); });
    row->addWidget(save);
    row->addStretch(1);
    m_summary = new QLabel(this);
    m_summary->setFixedSize(
        m_summary->fontMetrics().boundingRect(QStringLiteral("0000000000 samples, 0000000000 failed")).size() +
        QSize(8, 4));
    m_summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(m_summary);
    layout->addLayout(row);

    // The timer runs at the sample rate and only while the view is open: a
    // quiet live view wakes the program ten times a second, not more.
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
    Refresh();
}

CLiveViewWindow::~CLiveViewWindow() {
    m_live.Stop();
}

void CLiveViewWindow::Open() {
    if (!m_live.Running()) {
        m_live.Start(LiveNow());
        m_timer->start(static_cast<int>(m_live.TickMs()));
        Tick();
    }
    show();
    raise();
    activateWindow();
}

void CLiveViewWindow::Tick() {
    // Samples are drawn as their answers come in; a tick redraws only for a
    // request given up.
    const uint64_t failures = m_live.Model().Failures();
    m_live.Tick(LiveNow());
    if (m_live.Model().Failures() != failures) Refresh();
}

void CLiveViewWindow::Refresh() {
    const CLiveViewModel &model = m_live.Model();
    auto show = [](QLabel *label, const QString &text) {
        if (label->text() != text) label->setText(text);
    };
    for (int ch = 0; ch < kChannelCount; ++ch) show(m_values[ch], ValueText(model, ch));
    // The view pauses itself when the port cannot send.
    if (m_pause->isChecked() != model.Paused()) m_pause->setChecked(model.Paused());
    show(m_summary, QStringLiteral("%1 samples, %2 failed")
                           .arg(model.Stats(0).Count())
                           .arg(model.Failures()));
    m_trend->update();
}

void CLiveViewWindow::closeEvent(QCloseEvent *e) {
    m_timer->stop();
    m_live.Stop();
    QWidget::closeEvent(e);
}

void CLiveViewWindow::SaveCsv() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save as CSV"),
                                                      QStringLiteral("live.csv"),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return;
    QFile file(path);
    const std::string csv = m_live.Model().Csv();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size())) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    }
}
