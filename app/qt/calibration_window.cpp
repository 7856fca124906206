#include "calibration_window.h"

#include "qt_texts.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "machine_text.h"

namespace {

using Text = CCalibrationPresenter::Text;

// The as-found series and its rows' first cell in one colour, the as-left
// ones in another: the table is the plot's legend.
const QColor kFoundColour(200, 90, 0), kLeftColour(0, 90, 200);

QString Q(const std::string &text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Caption(const CCalibrationPresenter &presenter, Text text) {
    return QString::fromStdString(presenter.Caption(text));
}

void SetIfChanged(QLabel *label, const QString &text) {
    if (label->text() != text) label->setText(text);
}

}  // namespace

CErrorPlot::CErrorPlot(const CCalibrationPresenter &presenter, QWidget *parent)
    : QWidget(parent), m_presenter(presenter) {
    setMinimumSize(260, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CErrorPlot::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics metrics = fontMetrics();
    const QRectF frame =
        QRectF(rect()).adjusted(metrics.horizontalAdvance(QStringLiteral("-00.00")) + 8,
                                metrics.height() / 2 + 2, -10, -metrics.height() - 6);
    const PlotArea area{frame.left(), frame.top(), frame.width(), frame.height()};
    const double range = m_presenter.PlotRange(), tolerance = m_presenter.Record().tolerancePct;
    // The tolerance band, then the grid and its numbers: % of span up the
    // side, mA along the bottom.
    p.fillRect(QRectF(QPointF(frame.left(), m_presenter.Y(area, tolerance)),
                      QPointF(frame.right(), m_presenter.Y(area, -tolerance))),
               QColor(215, 240, 215));
    p.setPen(Qt::lightGray);
    p.drawRect(frame);
    for (const double pct : {range, 0.0, -range}) {
        const double y = m_presenter.Y(area, pct);
        p.setPen(Qt::lightGray);
        p.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        p.setPen(Qt::darkGray);
        p.drawText(QRectF(0, y - metrics.height() / 2.0, frame.left() - 4, metrics.height()),
                   Qt::AlignRight | Qt::AlignVCenter, Q(FixedText(pct, 2)));
    }
    for (const int mA : {4, 12, 20}) {
        const double x = m_presenter.X(area, mA);
        p.setPen(Qt::lightGray);
        p.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
        p.setPen(Qt::darkGray);
        p.drawText(QRectF(x - 20, frame.bottom() + 2, 40, metrics.height()), Qt::AlignCenter,
                   QString::number(mA));
    }
    p.setRenderHint(QPainter::Antialiasing);
    for (const bool asLeft : {false, true}) {
        const QColor colour = asLeft ? kLeftColour : kFoundColour;
        QPolygonF line;
        for (const PlotPoint &point : m_presenter.PlotPoints(area, asLeft))
            line.append(QPointF(point.x, point.y));
        p.setPen(QPen(colour, 2));
        p.drawPolyline(line);
        p.setBrush(colour);
        for (const QPointF &point : line) p.drawEllipse(point, 3.5, 3.5);
    }
}

CCalibrationWindow::CCalibrationWindow(CDeviceSession &session, QWidget *owner)
    : QWidget(owner, Qt::Window), m_presenter(session, QtTexts()) {
    setWindowTitle(Caption(m_presenter, Text::Title));
    auto *layout = new QVBoxLayout(this);
    auto *settings = new QGridLayout;
    auto *channel = new QComboBox(this);
    channel->addItems({QStringLiteral("1"), QStringLiteral("2")});
    m_controls[size_t(Text::Channel)] = channel;
    const CalFields defaults;
    const std::pair<Text, std::string> fields[] = {{Text::Points, defaults.points},
                                                   {Text::Tolerance, defaults.tolerance},
                                                   {Text::Tag, {}},
                                                   {Text::Operator, {}},
                                                   {Text::Reference, {}}};
    for (const auto &[text, value] : fields)
        m_controls[size_t(text)] = new QLineEdit(Q(value), this);
    // Three a row: channel, points, tolerance; tag, operator, reference.
    const Text order[] = {Text::Channel, Text::Points,   Text::Tolerance,
                          Text::Tag,     Text::Operator, Text::Reference};
    for (int i = 0; i < 6; ++i) {
        settings->addWidget(new QLabel(Caption(m_presenter, order[i]), this), i / 3, i % 3 * 2);
        settings->addWidget(Control(order[i]), i / 3, i % 3 * 2 + 1);
    }
    layout->addLayout(settings);

    const auto addButtons = [this](QHBoxLayout *row, std::initializer_list<Text> buttons) {
        for (const Text text : buttons) {
            auto *button = new QPushButton(Caption(m_presenter, text), this);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, text] { Route(text); });
            m_controls[size_t(text)] = button;
            row->addWidget(button);
        }
    };
    auto *run = new QHBoxLayout;
    addButtons(run, {Text::Start, Text::Stop});
    run->addStretch(1);
    layout->addLayout(run);

    m_prompt = new QLabel(this);
    m_prompt->setWordWrap(true);
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setMinimumHeight(m_prompt->fontMetrics().lineSpacing() * 2 + 4);
    QFont bold = m_prompt->font();
    bold.setBold(true);
    m_prompt->setFont(bold);
    layout->addWidget(m_prompt);

    auto *point = new QHBoxLayout;
    point->addWidget(new QLabel(Caption(m_presenter, Text::Applied), this));
    auto *applied = new QLineEdit(this);
    applied->setMaximumWidth(applied->fontMetrics().horizontalAdvance(QStringLiteral("00.0000")) +
                             16);
    // Enter in the field is Next.
    connect(applied, &QLineEdit::returnPressed, this, [this] { Route(Text::Next); });
    m_controls[size_t(Text::Applied)] = applied;
    point->addWidget(applied);
    addButtons(point, {Text::Next});
    point->addSpacing(24);
    addButtons(point, {Text::Adjust, Text::Finish});
    point->addStretch(1);
    layout->addLayout(point);

    auto *results = new QHBoxLayout;
    m_table = new QTableWidget(0, int(m_presenter.Header().size()), this);
    QStringList header;
    for (const std::string &column : m_presenter.Header()) header << Q(column);
    m_table->setHorizontalHeaderLabels(header);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // As wide as its columns; the plot takes the rest.
    m_table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    m_table->setMinimumHeight(200);
    results->addWidget(m_table);
    m_plot = new CErrorPlot(m_presenter, this);
    results->addWidget(m_plot, 1);
    layout->addLayout(results, 1);

    m_verdicts = new QLabel(this);
    m_verdicts->setFont(bold);
    layout->addWidget(m_verdicts);

    auto *record = new QHBoxLayout;
    record->addWidget(new QLabel(Caption(m_presenter, Text::Folder), this));
    auto *folder = new QLabel(Q(CCalibrationPresenter::RecordFolder()), this);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_controls[size_t(Text::Folder)] = folder;
    record->addWidget(folder, 1);
    addButtons(record, {Text::Save, Text::Open});
    layout->addLayout(record);
    m_saved = new QLabel(this);
    m_saved->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_saved);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, [this] { m_presenter.Tick(); });
    m_presenter.Procedure().SetOnChange([this] { Refresh(); });
    Refresh();
}

CCalibrationWindow::~CCalibrationWindow() {
    m_presenter.Procedure().SetOnChange(nullptr);
    m_presenter.Stop();
}

void CCalibrationWindow::Open() {
    // The procedure's readings are due only while a point settles, but the
    // window asks every tick: Tick() itself sends nothing otherwise.
    m_timer->start(static_cast<int>(m_presenter.TickMs()));
    show();
    raise();
    activateWindow();
}

void CCalibrationWindow::closeEvent(QCloseEvent *e) {
    // Nobody sees a hidden procedure's prompts: it ends, its record kept to
    // be saved when the window opens again.
    m_timer->stop();
    m_presenter.Stop();
    QWidget::closeEvent(e);
}

void CCalibrationWindow::Route(Text button) {
    const auto field = [this](Text text) {
        return static_cast<QLineEdit *>(Control(text))->text().toStdString();
    };
    std::string error, json, html;
    switch (button) {
        case Text::Start:
            error = m_presenter.Start(
                {static_cast<QComboBox *>(Control(Text::Channel))->currentIndex() + 1,
                 field(Text::Points), field(Text::Tolerance), field(Text::Tag),
                 field(Text::Operator), field(Text::Reference)});
            if (error.empty()) {
                m_htmlPath.clear();
                m_saved->clear();
                m_timer->start(static_cast<int>(m_presenter.TickMs()));
            }
            break;
        case Text::Stop:
            m_presenter.Stop();
            break;
        case Text::Next:
            error = m_presenter.Next(field(Text::Applied));
            if (error.empty()) static_cast<QLineEdit *>(Control(Text::Applied))->clear();
            break;
        case Text::Adjust:
            m_presenter.Adjust();
            break;
        case Text::Finish:
            m_presenter.Finish();
            break;
        case Text::Save:
            error = m_presenter.SaveRecord(&json, &html);
            if (error.empty()) {
                m_htmlPath = html;
                m_saved->setText(Q(json) + QLatin1Char('\n') + Q(html));
            }
            break;
        case Text::Open:
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Q(m_htmlPath))))
                error = "no program opened " + m_htmlPath;
            break;
        default:
            break;
    }
    if (!error.empty()) Warn(error);
    Refresh();
}

void CCalibrationWindow::Warn(const std::string &text) {
    QMessageBox::warning(this, windowTitle(), Q(text));
}

void CCalibrationWindow::Refresh() {
    SetIfChanged(m_prompt, Q(m_presenter.Prompt()));
    SetIfChanged(m_verdicts, Q(m_presenter.VerdictText()));
    const bool settable = m_presenter.CanStart();
    // The current of each point asked for is typed where the last one was.
    const bool focusApplied = m_presenter.CanNext() && !Control(Text::Applied)->isEnabled();
    const std::pair<Text, bool> enabled[] = {{Text::Channel, settable},
                                             {Text::Points, settable},
                                             {Text::Tolerance, settable},
                                             {Text::Tag, settable},
                                             {Text::Operator, settable},
                                             {Text::Reference, settable},
                                             {Text::Start, settable},
                                             {Text::Stop, m_presenter.CanStop()},
                                             {Text::Applied, m_presenter.CanNext()},
                                             {Text::Next, m_presenter.CanNext()},
                                             {Text::Adjust, m_presenter.CanAdjust()},
                                             {Text::Finish, m_presenter.CanFinish()},
                                             {Text::Save, m_presenter.CanSave()},
                                             {Text::Open, !m_htmlPath.empty()}};
    for (const auto &[text, on] : enabled) Control(text)->setEnabled(on);
    if (focusApplied) Control(Text::Applied)->setFocus();

    // Redrawn ten times a second while a point settles: the table and the
    // plot only when a point came in.
    std::vector<CalRow> rows = m_presenter.Rows();
    if (rows == m_rows) return;
    m_table->setRowCount(int(rows.size()));
    const size_t found = m_presenter.Record().asFound.size();
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            auto *item = new QTableWidgetItem(Q(rows[r][c]));
            item->setTextAlignment((c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
            if (c == 0) item->setForeground(r < found ? kFoundColour : kLeftColour);
            m_table->setItem(int(r), int(c), item);
        }
    }
    m_rows = std::move(rows);
    m_table->scrollToBottom();
    m_plot->update();
}
