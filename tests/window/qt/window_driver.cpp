// The Qt window's twin of the driver.
#include "window_driver.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>

#include <fstream>

#include "dialog_units.h"
#include "qt_texts.h"
#include "settings.h"
#include "sim_process.h"

namespace {

constexpr int kSimPort = 9, kAbsentPort = 30;
// The device's control FIFO, and the user's data folder of the run.
QString g_control, g_data;

class CQtWindowDriver : public CWindowDriver {
public:
    explicit CQtWindowDriver(const std::string &settingsPath) : m_window(settingsPath) {
        m_window.SetBoxHook([this](BoxKind kind, const QString &caption, const QString &text) {
            boxes.push_back(
                {text.toStdString(), kind == BoxKind::Warning && caption == ApplicationTitle() &&
                                         QThread::currentThread() == m_window.thread()});
        });
        m_window.InitDialog();
        m_window.show();
        m_window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }
    CLoopsetWindow &Window() override { return m_window; }
    int SimPort() override { return kSimPort; }
    int AbsentPort() override { return kAbsentPort; }

    Rect Map(const Rect &du) override {
        return Of(
            DialogRectToPixels(BaseUnitsOf(m_window.font()), du.x, du.y, du.width, du.height));
    }
    Rect Geometry(size_t index) override { return Of(Item(index)->geometry()); }
    std::string Text(size_t index) override {
        for (const char *name : {"text", "currentText", "plainText", "title"})
            if (const QVariant text = Item(index)->property(name); text.isValid())
                return text.toString().toStdString();
        return {};
    }
    bool Shown(size_t index) override {
        return Item(index)->isVisible() && Item(index)->isEnabled();
    }

    void Press(int id) override { QTest::mouseClick(m_window.Control(id), Qt::LeftButton); }
    void Focus(int id) override { m_window.Control(id)->setFocus(); }
    int FocusId() override {
        // The port selector's edit field has the focus on the selector's behalf.
        for (QWidget *w = QApplication::focusWidget(); w; w = w->parentWidget())
            for (int id : kTabOrder)
                if (m_window.Control(id) == w) return id;
        return 0;
    }
    void Key(WindowKey key) override {
        static const std::pair<Qt::Key, Qt::KeyboardModifier> keys[] = {
            {Qt::Key_Tab, Qt::NoModifier},
            {Qt::Key_Return, Qt::NoModifier},
            {Qt::Key_Escape, Qt::NoModifier},
            {Qt::Key_L, Qt::ControlModifier},
            {Qt::Key_K, Qt::ControlModifier}};
        QTest::keyClick(QApplication::focusWidget(), keys[int(key)].first, keys[int(key)].second);
    }
    std::optional<int> Ended() override {
        return m_window.isVisible() ? std::nullopt : std::optional(m_window.result());
    }
    bool LogAtEnd() override {
        const QScrollBar *bar = m_window.LogField()->verticalScrollBar();
        return bar->value() == bar->maximum();
    }
    bool PumpUntil(const std::function<bool()> &done, int ms) override {
        return QTest::qWaitFor(done, ms);
    }
    bool Ticking() override {
        const auto timers = m_window.findChildren<QTimer *>(Qt::FindDirectChildrenOnly);
        return std::any_of(timers.begin(), timers.end(), [](QTimer *t) { return t->isActive(); });
    }
    void LiveCapture(int channel, bool twentyMilliamps) override {
        // A refused capture says why in the live view's own box, which no
        // hook sees: note it and close it, as on Windows, instead of waiting
        // on it for ever.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes.push_back({box->text().toStdString(), false});
                box->done(QMessageBox::Ok);
            }
        });
        closer.start(10);
        QTest::mouseClick(Live()->CaptureButton(channel, twentyMilliamps), Qt::LeftButton);
    }
    std::string LiveValue(int channel) override {
        return Live()->ValueLabel(channel)->text().toStdString();
    }
    void LiveClose() override { Live()->close(); }
    void CalType(CalText field, const std::string &text) override {
        if (auto *combo = qobject_cast<QComboBox *>(Cal()->Control(field)))
            combo->setCurrentText(QString::fromStdString(text));
        else
            static_cast<QLineEdit *>(Cal()->Control(field))->setText(QString::fromStdString(text));
    }
    void CalPress(CalText button) override {
        QTest::mouseClick(Cal()->Control(button), Qt::LeftButton);
    }
    std::string CalShown(CalLine line) override {
        const QWidget *shown[] = {Cal()->PromptLabel(), Cal()->VerdictLabel(),
                                  Cal()->Control(CalText::Folder), Cal()->SavedLabel()};
        return static_cast<const QLabel *>(shown[int(line)])->text().toStdString();
    }
    std::vector<CalRow> CalTable() override {
        const QTableWidget *table = Cal()->Table();
        std::vector<CalRow> rows(size_t(table->rowCount()));
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount() && c < int(CalRow().size()); ++c)
                if (const QTableWidgetItem *item = table->item(r, c))
                    rows[size_t(r)][size_t(c)] = item->text().toStdString();
        return rows;
    }
    std::vector<std::string> Texts() override {
        // The live view and the calibration are the dialog's children.
        std::vector<std::string> texts{m_window.windowTitle().toStdString()};
        for (const QWidget *w : m_window.findChildren<QWidget *>()) {
            for (const char *name : {"text", "windowTitle"})
                texts.push_back(w->property(name).toString().toStdString());
            for (const QAction *action : w->actions())
                texts.push_back(action->text().toStdString());
        }
        return texts;
    }
    void SimControl(const std::string &line) override {
        std::ofstream(g_control.toStdString()) << line << '\n';
    }

private:
    static Rect Of(const QRect &r) { return {r.x(), r.y(), r.width(), r.height()}; }
    QWidget *Item(size_t index) {
        return m_window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).value(qsizetype(index));
    }
    CLiveViewWindow *Live() { return m_window.LiveViewWindow(); }
    CCalibrationWindow *Cal() { return m_window.CalibrationWindow(); }

    CLoopsetWindow m_window;
};

}  // namespace

int main(int argc, char **argv) {
    // The tests never need a screen; ctest sets this too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Records go to a data folder of the run's own, not the user's.
    QTemporaryDir data;
    g_data = data.path() + QStringLiteral("/loopset/");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    g_control = data.path() + QStringLiteral("/control");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

std::unique_ptr<CWindowDriver> OpenWindow(const std::string &settingsPath, UiLanguage language) {
    EXPECT_TRUE(InstallTranslation(language));
    // One device for the whole run.
    static CSimProcess sim;
    // An instrument for the calibration: 2 % low, 10 counts of offset, the
    // currents set through the FIFO.
    static const bool started =
        sim.Start(LOOPSIM_PATH, {"--input", "4,4", "--gain", "0.98", "--offset", "10",
                                 "--control", g_control.toStdString()});
    EXPECT_TRUE(started) << sim.Log();
    qputenv(("PORTLINK_COM" + std::to_string(kSimPort)).c_str(), sim.Path().c_str());
    qputenv(("PORTLINK_COM" + std::to_string(kAbsentPort)).c_str(), "/nonexistent/tty");
    if (!settingsPath.empty()) WriteComPort(settingsPath, kSimPort);
    auto driver = std::make_unique<CQtWindowDriver>(settingsPath);
    driver->dataFolder = g_data.toStdString();
    return driver;
}
