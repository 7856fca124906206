#include "live_view_window.h"

#include "qt_texts.h"

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


namespace {

const QColor kChannelColours[kChannelCount] = {QColor(0, 90, 200), QColor(200, 60, 0)};

QString Text(const std::string &text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CTrendView::CTrendView(const CLivePresenter &presenter, QWidget *parent)
    : QWidget(parent), m_presenter(presenter) {
    setMinimumSize(360, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTrendView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QRectF area = QRectF(rect()).adjusted(36, 8, -8, -18);
    const TrendArea trend = {area.left(), area.top(), area.width(), area.height()};
    // The grid and its texts change only with the size, the unit and the span:
    // drawn once into a picture, not ten times a second.
    const QString legend = Text(m_presenter.Legend());
    if (m_background.size() != size() * devicePixelRatio() || m_legend != legend) {
        m_legend = legend;
        m_background = QPixmap(size() * devicePixelRatio());
        m_background.setDevicePixelRatio(devicePixelRatio());
        m_background.fill(Qt::white);
        QPainter b(&m_background);
        b.setPen(Qt::lightGray);
        b.drawRect(area);
        b.setPen(Qt::darkGray);
        for (int v : m_presenter.Marks()) {
            const double y = m_presenter.Y(trend, v);
            b.drawText(QRectF(0, y - 8, 32, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(v));
            b.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        }
        b.drawText(QRectF(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignRight, legend);
    }
    p.drawPixmap(0, 0, m_background);
    // Into buffers kept from paint to paint: redrawn ten times a second, the
    // trend must cost next to nothing.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_presenter.TrendPoints(ch, trend, m_points);
        QPolygonF &line = m_lines[ch];
        line.clear();
        for (const TrendPoint &point : m_points) line.append(QPointF(point.x, point.y));
        // Two one-pixel lines, a pixel apart: a wider pen is stroked as an
        // outline, which costs several times as much.
        p.setPen(QPen(kChannelColours[ch], 0));
        p.drawPolyline(line);
        line.translate(0, 1);
        p.drawPolyline(line);
    }
}

CLiveViewWindow::CLiveViewWindow(CLiveView &live, QWidget *owner)
    : QWidget(owner, Qt::Window), m_live(live), m_presenter(live, QtTexts()) {
    setWindowTitle(Text(m_presenter.Title()));
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_values[ch] = new QLabel(this);
        // Fixed, so that a new value redraws the label alone and does not lay
        // the whole window out again, ten times a second.
        m_values[ch]->setFixedSize(
            m_values[ch]->fontMetrics().boundingRect(Text(m_presenter.WidestValueText())).size() +
            QSize(8, 4));
        QPalette palette = m_values[ch]->palette();
        palette.setColor(QPalette::WindowText, kChannelColours[ch]);
        m_values[ch]->setPalette(palette);
        grid->addWidget(m_values[ch], ch, 0);
        for (int end = 0; end < 2; ++end) {
            auto *button = new QPushButton(Text(m_presenter.CaptureCaption(end == 1)), this);
            connect(button, &QPushButton::clicked, this, [this, ch, end] {
                const CaptureResult result = m_live.Capture(ch, end == 1);
                if (!result.mean)
                    QMessageBox::warning(this, windowTitle(),
                                         Text(m_presenter.CaptureProblem(result)));
            });
            m_capture[ch][end] = button;
            grid->addWidget(button, ch, 1 + end);
        }
    }
    layout->addLayout(grid);
    m_trend = new CTrendView(m_presenter, this);
    layout->addWidget(m_trend, 1);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(Text(m_presenter.RateCaption()), this));
    m_rate = new QSpinBox(this);
    m_rate->setRange(CLiveViewModel::kMinRate, CLiveViewModel::kMaxRate);
    m_rate->setValue(m_live.Model().Rate());
    connect(m_rate, &QSpinBox::valueChanged, this, [this](int rate) {
        m_live.SetRate(rate);
        m_timer->setInterval(static_cast<int>(m_live.TickMs()));
    });
    row->addWidget(m_rate);
    m_pause = new QPushButton(Text(m_presenter.PauseCaption(false)), this);
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        if (paused != m_live.Model().Paused()) m_live.SetPaused(paused);
        m_pause->setText(Text(m_presenter.PauseCaption(paused)));
    });
    row->addWidget(m_pause);
    auto *save = new QPushButton(Text(m_presenter.SaveCaption()), this);
    connect(save, &QPushButton::clicked, this, [this] { SaveCsv(); });
    row->addWidget(save);
    row->addStretch(1);
    m_summary = new QLabel(this);
    m_summary->setFixedSize(
        m_summary->fontMetrics().boundingRect(Text(m_presenter.WidestSummaryText())).size() +
        QSize(8, 4));
    m_summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(m_summary);
    layout->addLayout(row);

    // The timer runs at the sample rate and only while the view is open: a
    // quiet live view wakes the program ten times a second, not more.
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
    m_live.SetOnChange([this] { Refresh(); });
    Refresh();
}

CLiveViewWindow::~CLiveViewWindow() {
    m_live.SetOnChange(nullptr);
    m_live.Stop();
}

void CLiveViewWindow::Open() {
    if (!m_live.Running()) {
        m_live.Start();
        m_timer->start(static_cast<int>(m_live.TickMs()));
        Tick();
    }
    show();
    raise();
    activateWindow();
}

void CLiveViewWindow::Tick() {
    // Samples and failures are drawn as the session reports them.
    m_live.Tick();
}

void CLiveViewWindow::Refresh() {
    const CLiveViewModel &model = m_live.Model();
    auto show = [](QLabel *label, const QString &text) {
        if (label->text() != text) label->setText(text);
    };
    for (int ch = 0; ch < kChannelCount; ++ch) show(m_values[ch], Text(m_presenter.ValueText(ch)));
    // The view pauses itself when the line is lost.
    if (m_pause->isChecked() != model.Paused()) m_pause->setChecked(model.Paused());
    show(m_summary, Text(m_presenter.SummaryText()));
    m_trend->update();
}

void CLiveViewWindow::closeEvent(QCloseEvent *e) {
    m_timer->stop();
    m_live.Stop();
    QWidget::closeEvent(e);
}

void CLiveViewWindow::SaveCsv() {
    const QString path = QFileDialog::getSaveFileName(this, Text(m_presenter.SaveCaption()),
                                                      QString::fromUtf8(CLivePresenter::CsvFileName()),
                                                      Text(m_presenter.CsvFiles()) + QStringLiteral(" (*.csv)"));
    if (path.isEmpty()) return;
    QFile file(path);
    const std::string csv = m_live.Model().Csv();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size())) {
        QMessageBox::warning(this, windowTitle(),
                             Text(m_presenter.CannotWrite(path.toStdString(), file.errorString().toStdString())));
    }
}
