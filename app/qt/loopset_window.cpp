#include "loopset_window.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include "config_commands.h"
#include "qt_texts.h"
#include "dialog_layout.h"
#include "port_list.h"
#include "dialog_units.h"

namespace {

// The port selector's items stay "1" to "30"; the device behind each number,
// looked up when the list drops down, shows as the item's tooltip.
class CPortSelector : public QComboBox {
public:
    using QComboBox::QComboBox;
    void showPopup() override {
        for (int i = 0; i < count(); ++i) setItemData(i, QVariant(), Qt::ToolTipRole);
        for (const PortInfo &port : ListPorts()) {
            if (port.port >= 1 && port.port <= count())
                setItemData(port.port - 1, QString::fromStdString(DescribePort(port)),
                            Qt::ToolTipRole);
        }
        QComboBox::showPopup();
    }
};

}  // namespace

namespace {

// The dialog's texts keep Windows line ends; Qt's text widgets want bare LF.
QString ToDisplayText(const std::string &text) {
    QString s = QString::fromStdString(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

// A read-only edit on Windows is drawn on the dialog's face colour, which
// tells the user at a glance which fields they can type into.
void LookReadOnly(QWidget *w) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    w->setPalette(palette);
}

}  // namespace

QString ApplicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

CLoopsetWindow::CLoopsetWindow(std::string settingsPath, const PortlinkApi &api)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(DialogText(kDialogTitle));
    setFont(DialogFont());
    BuildControls();
    m_dlg = std::make_unique<CLoopsetDlg>(*this, std::move(settingsPath), api);
    m_live = std::make_unique<CLiveView>(*m_dlg);

    // The template stays as it is: the further commands live in a context
    // menu, with the shortcuts the Windows build puts in the system menu.
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto addCommand = [this](const QString &text, const QKeySequence &keys, auto run) {
        auto *action = new QAction(text, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, run);
        addAction(action);
    };
    const auto tr = [](UiText id) { return QString::fromStdString(QtTexts().Text(id)); };
    addCommand(tr(UiText::CommandLiveView), QKeySequence(Qt::CTRL | Qt::Key_L),
               [this] { OpenLiveView(); });
    addCommand(tr(UiText::CommandCalibration), QKeySequence(Qt::CTRL | Qt::Key_K),
               [this] { OpenCalibration(); });
    const QString configFiles = tr(UiText::ConfigFiles) + QStringLiteral(" (*.json)");
    addCommand(tr(UiText::CommandSaveConfig), QKeySequence(Qt::CTRL | Qt::Key_S), [this, tr, configFiles] {
        const QString path = QFileDialog::getSaveFileName(
            this, tr(UiText::SaveConfigTitle), QString::fromUtf8(kConfigFileName), configFiles);
        if (!path.isEmpty()) SaveConfiguration(path);
    });
    addCommand(tr(UiText::CommandLoadConfig), QKeySequence(Qt::CTRL | Qt::Key_O), [this, tr, configFiles] {
        const QString path = QFileDialog::getOpenFileName(
            this, tr(UiText::LoadConfigTitle), QString(),
            configFiles + QStringLiteral(";;") + tr(UiText::AllFiles) + QStringLiteral(" (*)"));
        if (!path.isEmpty()) LoadConfiguration(path);
    });
    // Found without reading a manual: a small menu button in the free corner
    // beside the credit line under the log names the same commands.
    m_commandsButton = new QToolButton(this);
    m_commandsButton->setText(tr(UiText::CommandsButton));
    m_commandsButton->setToolTip(tr(UiText::CommandsHint));
    m_commandsButton->setAutoRaise(true);
    m_commandsButton->setFocusPolicy(Qt::NoFocus);
    m_commandsButton->setPopupMode(QToolButton::InstantPopup);
    m_commandsButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto *menu = new QMenu(m_commandsButton);
    menu->addActions(actions());
    m_commandsButton->setMenu(menu);
    const DialogBaseUnits units = BaseUnitsOf(font());
    m_commandsButton->setGeometry(DialogRectToPixels(units, 5, kCommandsButtonY, 72, kCommandsButtonHeight));
}

void CLoopsetWindow::OpenLiveView() {
    if (!m_liveWindow) m_liveWindow = new CLiveViewWindow(*m_live, this);
    m_liveWindow->Open();
}

void CLoopsetWindow::OpenCalibration() {
    if (!m_calibrationWindow) m_calibrationWindow = new CCalibrationWindow(m_dlg->Session(), this);
    m_calibrationWindow->Open();
}

bool CLoopsetWindow::LoadConfiguration(const QString &path) {
    const std::string error = LoadConfigIntoFields(path.toStdString(), *this, QtTexts());
    if (!error.empty()) ShowBox(BoxKind::Warning, ApplicationTitle(), QString::fromStdString(error));
    return error.empty();
}

bool CLoopsetWindow::SaveConfiguration(const QString &path) {
    const std::string error = SaveFieldsToConfig(path.toStdString(), *this, QtTexts());
    if (!error.empty()) ShowBox(BoxKind::Warning, ApplicationTitle(), QString::fromStdString(error));
    return error.empty();
}

CLoopsetWindow::~CLoopsetWindow() {
    // A worker that still waits for a box must not wait for a window that is
    // going away (and the link joins its workers below).
    m_boxGate->Close();
    for (QTimer *timer : std::as_const(m_timers)) timer->stop();
    // The live view's window stops the live view, which logs through the
    // dialog, and the calibration's its procedure, which works through the
    // dialog's session: they go while the dialog is still there.
    delete m_liveWindow;
    m_live.reset();
    delete m_calibrationWindow;
    // Closes the port, which stops portlink's listener: nothing posts to this
    // window once the dialog is gone.
    m_dlg.reset();
}

QWidget *CLoopsetWindow::MakeControl(const ControlSpec &control, const DialogBaseUnits &units,
                                     int &height) {
    const QString text = DialogText(control.text);
    switch (control.kind) {
        case ControlKind::GroupBox: {
            auto *box = new QGroupBox(this);
            box->setFocusPolicy(Qt::NoFocus);
            return box;
        }
        case ControlKind::Label:
        case ControlKind::CenteredLabel: {
            auto *label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(
                (control.kind == ControlKind::Label ? Qt::AlignLeft : Qt::AlignHCenter) |
                Qt::AlignVCenter);
            return label;
        }
        case ControlKind::ReadOnlyValue:
        case ControlKind::Value: {
            auto *edit = new QLineEdit(this);
            edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (control.kind == ControlKind::ReadOnlyValue) {
                // Read-only fields still take the focus, so their value can
                // be selected and copied.
                edit->setReadOnly(true);
                LookReadOnly(edit);
            }
            edit->setFocusPolicy(Qt::StrongFocus);
            return edit;
        }
        case ControlKind::PortSelector: {
            auto *combo = new CPortSelector(this);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            for (int n = PORTLINK_FIRST_PORT; n <= PORTLINK_LAST_OFFERED_PORT; ++n)
                combo->addItem(QString::number(n));
            combo->setCurrentIndex(-1);
            combo->lineEdit()->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            // The template's height is the dropped list's; fill it.
            const int listPx =
                DialogRectToPixels(units, 0, 0, 0, control.height - kPortSelectorClosedHeightDu)
                    .height();
            combo->setMaxVisibleItems(
                std::max(1, listPx / std::max(1, combo->fontMetrics().height() + 2)));
            height = kPortSelectorClosedHeightDu;
            m_portSelector = combo;
            return combo;
        }
        case ControlKind::Button: {
            auto *button = new QPushButton(text, this);
            // Enter is the dialog's to handle (see keyPressEvent).
            button->setAutoDefault(false);
            button->setFocusPolicy(Qt::StrongFocus);
            return button;
        }
        case ControlKind::Log: {
            auto *log = new QPlainTextEdit(this);
            log->setReadOnly(true);
            log->setLineWrapMode(QPlainTextEdit::NoWrap);
            log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            log->setFocusPolicy(Qt::StrongFocus);
            // A Windows edit field puts its tab stops every 32 dialog units;
            // the log's columns line up as they do there.
            log->setTabStopDistance(MulDiv(32, units.x, 4));
            LookReadOnly(log);
            m_log = log;
            return log;
        }
    }
    return new QWidget(this);
}

void CLoopsetWindow::BuildControls() {
    const DialogBaseUnits units = BaseUnitsOf(font());
    setFixedSize(DialogRectToPixels(units, 0, 0, kDialogWidthDu, kDialogHeightDu).size());
    for (const ControlSpec &control : kDialogControls) {
        int height = control.height;
        QWidget *w = MakeControl(control, units, height);
        w->setGeometry(DialogRectToPixels(units, control.x, control.y, control.width, height));
        if (control.id != IDC_STATIC) {
            w->setObjectName(QStringLiteral("IDC_%1").arg(control.id));
            m_controls.insert(control.id, w);
        }
    }

    connect(static_cast<QPushButton *>(Control(IDC_BTN_ADC_READ)), &QPushButton::clicked, this,
            [this] { m_dlg->OnBtnAdcRead(); });
    connect(static_cast<QPushButton *>(Control(IDC_BTN_CONFIG_READ)), &QPushButton::clicked, this,
            [this] { m_dlg->OnBtnConfigRead(); });
    connect(static_cast<QPushButton *>(Control(IDC_BTN_CONFIG_WRITE)), &QPushButton::clicked, this,
            [this] { m_dlg->OnBtnConfigWrite(); });

    QWidget *previous = nullptr;
    for (int id : kTabOrder) {
        QWidget *w = Control(id);
        if (previous) setTabOrder(previous, w);
        previous = w;
    }
    Control(kTabOrder[0])->setFocus(Qt::OtherFocusReason);
}

int CLoopsetWindow::RunModal() {
    m_endedResult.reset();
    InitDialog();
    // Ended during start-up (a box closed by --quit-after, say): as with a
    // dialog ended in its initialisation, the modal loop is never entered.
    if (m_endedResult) return *m_endedResult;
    return exec();
}

bool CLoopsetWindow::InitDialog() {
    const bool focusFirst = m_dlg->OnInitDialog();
    if (focusFirst) Control(kTabOrder[0])->setFocus(Qt::OtherFocusReason);
    return focusFirst;
}

bool CLoopsetWindow::event(QEvent *e) {
    // Pairs with the listener's release, before the event is even looked at:
    // Qt's queue hands it over with locks that the thread checker cannot see.
    m_posted.load(std::memory_order_acquire);
    if (e->type() == kPortNotifyEventType) {
        // Seen before anything else, as a message loop's pre-translation does.
        if (m_dlg) m_dlg->PreTranslateMessage(static_cast<PortNotifyEvent *>(e)->Message());
        return true;
    }
    return QDialog::event(e);
}

void CLoopsetWindow::keyPressEvent(QKeyEvent *e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Enter presses the focused button; anywhere else it is the dialog's
        // OK, which leaves the window open.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            button->click();
        } else {
            m_dlg->OnOK();
        }
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);  // Escape ends up in reject()
}

void CLoopsetWindow::reject() {
    m_dlg->OnCancel();
}

void CLoopsetWindow::EndDialog(int result) {
    m_endedResult = result;
    QDialog::done(result);
}

void CLoopsetWindow::PostFromListener(void *context, uint32_t message, uint32_t wParam,
                                      int32_t lParam) {
    // Runs on portlink's listener thread; postEvent is thread-safe and
    // returns at once.
    auto *self = static_cast<CLoopsetWindow *>(context);
    auto *event = new PortNotifyEvent(message, wParam, lParam);
    self->m_posted.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(self, event);
}

void CLoopsetWindow::ShowWarning(const std::string &text) {
    ShowBox(BoxKind::Warning, ApplicationTitle(), ToDisplayText(text));
}

void CLoopsetWindow::ShowError(const std::string &caption, const std::string &text) {
    ShowBox(BoxKind::Error, QString::fromStdString(caption), ToDisplayText(text));
}

void CLoopsetWindow::ShowBox(BoxKind kind, const QString &caption, const QString &text) {
    if (QThread::currentThread() == thread()) {
        RunBox(kind, caption, text);
        return;
    }
    // A worker thread: the box runs on the UI thread and the worker waits
    // until it is closed, or until the window goes away.
    CBoxGate<Box>::ShowAndWait(m_boxGate, {kind, caption, text}, [this] {
        return QMetaObject::invokeMethod(this, "RunPendingBoxes", Qt::QueuedConnection);
    });
}

void CLoopsetWindow::RunPendingBoxes() {
    m_boxGate->RunPending([this](const Box &box) { RunBox(box.kind, box.caption, box.text); });
}

void CLoopsetWindow::RunBox(BoxKind kind, const QString &caption, const QString &text) {
    if (m_boxHook) {
        m_boxHook(kind, caption, text);
        return;
    }
    // The warning belongs to the window; the error box has no owner.
    QMessageBox box(kind == BoxKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    caption, text, QMessageBox::Ok, kind == BoxKind::Warning ? this : nullptr);
    box.exec();
}

std::string CLoopsetWindow::GetFieldText(int id) {
    if (auto *edit = qobject_cast<QLineEdit *>(Control(id))) return edit->text().toStdString();
    if (id == IDC_COM_PORT) return m_portSelector->currentText().toStdString();
    if (id == IDC_LOG) return m_log->toPlainText().toStdString();
    return {};
}

void CLoopsetWindow::SetFieldText(int id, const std::string &text) {
    if (auto *edit = qobject_cast<QLineEdit *>(Control(id))) {
        edit->setText(QString::fromStdString(text));
    } else if (id == IDC_COM_PORT) {
        m_portSelector->setEditText(QString::fromStdString(text));
    } else if (id == IDC_LOG) {
        SetLogText(text);
    }
}

int CLoopsetWindow::GetPortSelection() {
    // The item whose text the selector shows: a number typed in that is one
    // of the items selects that item (not whatever was picked before); any
    // other text selects nothing.
    return m_portSelector->findText(m_portSelector->currentText(), Qt::MatchExactly);
}

void CLoopsetWindow::SetPortSelection(int index) {
    m_portSelector->setCurrentIndex(index);
}

void CLoopsetWindow::SetLogText(const std::string &text) {
    m_log->setPlainText(ToDisplayText(text));
}

void CLoopsetWindow::ScrollLogToEnd() {
    m_log->moveCursor(QTextCursor::End);
    m_log->ensureCursorVisible();
    QScrollBar *bar = m_log->verticalScrollBar();
    bar->setValue(bar->maximum());
}

const ITexts &CLoopsetWindow::Texts() {
    return QtTexts();
}

void CLoopsetWindow::SetIcons() {
    setWindowIcon(QIcon(QStringLiteral(":/loopset/loopset.png")));
}

void CLoopsetWindow::StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) {
    QTimer *&timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] {
            QTimer *t = m_timers.value(id);
            // The first tick of a restart came early; the rest keep the period.
            if (t && t->interval() != static_cast<int>(m_timerPeriods.value(id)))
                t->setInterval(static_cast<int>(m_timerPeriods.value(id)));
            m_dlg->OnTimer(id);
        });
    }
    m_timerPeriods[id] = periodMs;
    timer->start(static_cast<int>(firstMs));
}

void CLoopsetWindow::StopTimer(unsigned id) {
    if (QTimer *timer = m_timers.value(id)) timer->stop();
}
