// The Qt window: its layout against the template, keys, font, the path of
// portlink's posted notifications, the message boxes from other threads, and
// the three buttons against the simulated device.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "dialog_layout.h"
#include "dialog_units.h"
#include "loopset_window.h"
#include "settings.h"
#include "sim_process.h"

namespace {

// A portlink that opens whatever it is asked to (or refuses to, on demand) and
// records where readcom is called from.
struct FakePort {
    static inline std::atomic<int> openResult{0};
    static inline std::atomic<int> reads{0};
    static inline std::atomic<int> readsOffUiThread{0};
    static inline std::atomic<int> lastReadPort{0};
    static inline std::thread::id uiThread;
};

const PortlinkApi &FakePortlink() {
    static const PortlinkApi api = {
        [](PortlinkWindow *) -> int32_t { return 1; },
        []() -> int32_t { return 1; },
        [](int32_t) -> int32_t { return FakePort::openResult; },
        [](int32_t, int32_t, int32_t) -> int32_t { return 0; },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t) -> int32_t { return 0; },
        [](int32_t) -> int32_t { return 1; },
        [](int32_t, const uint8_t *, int32_t) -> int32_t { return 0; },
        [](int32_t port, uint8_t *, int32_t *count) -> int32_t {
            if (std::this_thread::get_id() != FakePort::uiThread) ++FakePort::readsOffUiThread;
            FakePort::lastReadPort = port;
            ++FakePort::reads;
            *count = 0;
            return 0;
        },
        [](int32_t, int32_t) -> int32_t { return 1; },
        [](int32_t, int32_t, int32_t) -> int32_t { return 1; },
    };
    return api;
}

struct Box {
    BoxKind kind;
    QString caption;
    QString text;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        settings = (dir.path() + "/config.ini").toStdString();
        FakePort::openResult = 0;
        FakePort::reads = 0;
        FakePort::readsOffUiThread = 0;
        FakePort::uiThread = std::this_thread::get_id();
    }

    std::unique_ptr<CLoopsetWindow> MakeWindow(int port, const PortlinkApi &api) {
        WriteComPort(settings, port);
        auto window = std::make_unique<CLoopsetWindow>(settings, api);
        window->SetBoxHook([this](BoxKind kind, const QString &caption, const QString &text) {
            boxes.push_back({kind, caption, text});
        });
        return window;
    }

    QTemporaryDir dir;
    std::string settings;
    std::vector<Box> boxes;
};

QString Hangul(const QString &s) {
    QString out;
    for (QChar c : s)
        if (c.script() == QChar::Script_Hangul) out += c;
    return out;
}

int IdOf(QWidget *w) {
    // The port selector's edit field has the focus on the selector's behalf.
    for (; w; w = w->parentWidget()) {
        const QString name = w->objectName();
        if (name.startsWith("IDC_")) return name.mid(4).toInt();
    }
    return 0;
}

TEST_F(WindowTest, EveryControlFitsTheWindowWithoutOverlapOrCutText) {
    auto window = MakeWindow(1, FakePortlink());
    const QRect client = window->rect();
    const QFontMetrics fm(window->font());
    const DialogBaseUnits units = BaseUnitsOf(window->font());
    EXPECT_EQ(window->size(), DialogRectToPixels(units, 0, 0, 199, 353).size());

    const QList<QWidget *> controls = window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(controls.size(), static_cast<qsizetype>(std::size(kDialogControls)));
    QWidget *group = controls.front();
    for (QWidget *w : controls) {
        SCOPED_TRACE((w->metaObject()->className() + (" " + w->objectName())).toStdString());
        EXPECT_TRUE(client.contains(w->geometry())) << "outside the window";
        for (QWidget *other : controls) {
            if (other != w && w != group && other != group) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
            }
        }
        if (w != group && w->geometry().bottom() < group->geometry().bottom()) {
            EXPECT_TRUE(group->geometry().contains(w->geometry())) << "sticks out of the frame";
        }

        const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_LE(fm.horizontalAdvance(label->text()), label->contentsRect().width())
                << label->text().toStdString();
            EXPECT_LE(fm.height(), label->contentsRect().height());
        } else if (auto *button = qobject_cast<QPushButton *>(w)) {
            EXPECT_LE(fm.horizontalAdvance(button->text()) + 2 * frame + 8, button->width())
                << button->text().toStdString();
            EXPECT_LE(fm.height() + 2 * frame, button->height());
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            // The widest value a field shows (and 65535 is what a field holds).
            EXPECT_LE(fm.horizontalAdvance("65535") + 2 * frame + 4, edit->width());
            EXPECT_LE(fm.height() + 2 * frame, edit->height());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            EXPECT_LE(fm.horizontalAdvance("30"), combo->lineEdit()->width());
            EXPECT_EQ(combo->count(), 30);
            EXPECT_EQ(combo->itemText(0), "1");
            EXPECT_EQ(combo->itemText(29), "30");
        }
    }
}

TEST_F(WindowTest, AKoreanFontResolvesAndHasEveryHangulGlyph) {
    auto window = MakeWindow(1, FakePortlink());
    const QFontInfo info(window->font());
    EXPECT_TRUE(DialogFontFamilies().contains(info.family())) << info.family().toStdString();
    EXPECT_EQ(info.pointSize(), 9);

    QString texts = window->windowTitle();
    for (const ControlSpec &spec : kDialogControls) texts += QString::fromUtf8(spec.text);
    texts +=
        "사용할 수 없는 전송 속도 입니다.시리얼 포트 COM 를(을) 열수 없습니다."
        "환경 설정에서 사용할 포트를 선택 해주세요.IP 설정 오류";
    const QString hangul = Hangul(texts);
    ASSERT_GT(hangul.size(), 40);
    // The font itself, not a fallback found glyph by glyph.
    const QRawFont raw = QRawFont::fromFont(window->font());
    for (QChar c : hangul) EXPECT_TRUE(raw.supportsCharacter(c)) << QString(c).toStdString();
    EXPECT_EQ(window->windowTitle().toStdString(), kDialogTitle);
}

TEST_F(WindowTest, EnterKeepsTheWindowOpenEscapeAndCloseBoxCloseIt) {
    auto window = MakeWindow(1, FakePortlink());
    window->InitDialog();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    for (int id : {IDC_CH1_REF_MIN, IDC_ADC_CH1, IDC_LOG, IDC_COM_PORT}) {
        QWidget *field = window->Control(id);
        field->setFocus();
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : field;
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(window->isVisible()) << id;
    }
    // On a button, Enter presses it.
    window->Control(IDC_BTN_CONFIG_READ)->setFocus();
    QTest::keyClick(window->Control(IDC_BTN_CONFIG_READ), Qt::Key_Return);
    EXPECT_NE(window->Dialog().Log().Text().find("\tSend Config Read"), std::string::npos);
    EXPECT_TRUE(window->isVisible());

    QTest::keyClick(window->Control(IDC_CH1_REF_MIN), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), IDCANCEL);

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->setResult(0);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), IDCANCEL);
}

TEST_F(WindowTest, TabVisitsTheControlsInTemplateOrder) {
    auto window = MakeWindow(1, FakePortlink());
    window->InitDialog();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(IdOf(QApplication::focusWidget()), kTabOrder[0]);
    // The icon came from the resource, not a blank default.
    EXPECT_FALSE(window->windowIcon().availableSizes().isEmpty());

    std::vector<int> visited;
    for (size_t i = 0; i < std::size(kTabOrder); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(IdOf(QApplication::focusWidget()));
    }
    std::vector<int> expected(std::begin(kTabOrder) + 1, std::end(kTabOrder));
    expected.push_back(kTabOrder[0]);  // and round again
    EXPECT_EQ(visited, expected);
}

TEST_F(WindowTest, PostedNotificationReachesReadSerialOnTheUiThread) {
    auto window = MakeWindow(7, FakePortlink());
    window->InitDialog();
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(window->Dialog().Link().m_nPort, 7);
    PortlinkWindow *pw = window->PortWindow();

    // From a listener thread, as portlink posts: one for another port, which
    // is not ours to read, then two for ours.
    std::thread listener([pw] {
        pw->post(pw->context, PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_RXCHAR, 3);
        pw->post(pw->context, PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_RXCHAR, 7);
        pw->post(pw->context, PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_RXCHAR, 7);
    });
    listener.join();
    EXPECT_EQ(FakePort::reads, 0) << "read before the UI thread got the message";
    EXPECT_TRUE(QTest::qWaitFor([] { return FakePort::reads >= 2; }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(FakePort::reads, 2);
    EXPECT_EQ(FakePort::lastReadPort, 7);
    EXPECT_EQ(FakePort::readsOffUiThread, 0);
}

TEST_F(WindowTest, PortThatWillNotOpenIsAWarningBoxWithTheProgramAsCaption) {
    FakePort::openResult = 1;
    auto window = MakeWindow(12, FakePortlink());
    window->InitDialog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(boxes[0].caption, ApplicationTitle());
    EXPECT_EQ(
        boxes[0].text,
        "시리얼 포트 COM 12를(을) 열수 없습니다.\n\n환경 설정에서 사용할 포트를 선택 해주세요.");
    EXPECT_EQ(window->PortSelector()->currentText(), "12");
    // Start-up went on regardless.
    EXPECT_NE(window->Dialog().Log().Text().find("\tStart!"), std::string::npos);
}

TEST_F(WindowTest, ANumberTypedIntoThePortSelectorIsThePortUsed) {
    auto window = MakeWindow(1, FakePortlink());
    window->InitDialog();
    QLineEdit *typed = window->PortSelector()->lineEdit();

    // Typed, not picked from the list, and no Enter: still that port.
    typed->selectAll();
    QTest::keyClicks(typed, "12");
    window->Dialog().OnBtnAdcRead();
    EXPECT_EQ(window->Dialog().Link().m_nPort, 12);
    EXPECT_EQ(ReadComPort(settings), 12);

    // Text that is no item selects nothing: port 0, which will not open.
    FakePort::openResult = 1;
    typed->selectAll();
    QTest::keyClicks(typed, "31");
    window->Dialog().OnBtnAdcRead();
    EXPECT_EQ(window->Dialog().Link().m_nPort, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("시리얼 포트 COM 0를(을)")) << boxes[0].text.toStdString();
}

TEST_F(WindowTest, BoxFromAWorkerRunsOnTheUiThreadAndTheWorkerWaitsForIt) {
    auto window = std::make_unique<CLoopsetWindow>(settings, FakePortlink());
    std::atomic<bool> returned{false};
    std::atomic<bool> returnedBeforeClose{false};
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool onUiThread = false;

    // The box runs a modal loop; inspect and close it from inside that loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        onUiThread = box->thread() == QThread::currentThread();
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        returnedBeforeClose = returned.load();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);

    std::thread worker([&] {
        window->ShowWarning("사용할 수 없는 전송 속도 입니다.");
        returned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(onUiThread);
    EXPECT_FALSE(returnedBeforeClose);
    EXPECT_EQ(caption, ApplicationTitle());
    EXPECT_EQ(text, "사용할 수 없는 전송 속도 입니다.");
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST_F(WindowTest, AWorkerWaitingForABoxIsReleasedWhenTheWindowGoesAway) {
    auto window = std::make_unique<CLoopsetWindow>(settings, FakePortlink());
    // Nobody runs the event loop: the box can never be shown.
    auto shown = std::async(std::launch::async,
                            [w = window.get()] { w->ShowError("socket()", "Connection refused"); });
    EXPECT_EQ(shown.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    window.reset();
    EXPECT_EQ(shown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

std::vector<std::string> LogTexts(CLoopsetWindow &window) {
    std::vector<std::string> out;
    const QStringList lines = window.LogField()->toPlainText().split('\n');
    for (const QString &line : lines)
        if (const qsizetype tab = line.indexOf('\t'); tab >= 0)
            out.push_back(line.mid(tab + 1).toStdString());
    return out;
}

bool WaitForLog(CLoopsetWindow &window, const std::string &text, size_t after) {
    return QTest::qWaitFor(
        [&] {
            const auto lines = LogTexts(window);
            return std::find(lines.begin() + std::min(after, lines.size()), lines.end(), text) !=
                   lines.end();
        },
        3000);
}

TEST_F(WindowTest, TheThreeButtonsAgainstTheSimulatedDevice) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {})) << sim.Log();
    qputenv("PORTLINK_COM9", QByteArray::fromStdString(sim.Path()));
    auto window = MakeWindow(9, RealPortlink());
    window->InitDialog();
    window->show();
    ASSERT_TRUE(boxes.empty()) << boxes[0].text.toStdString();

    auto click = [&](int id) { QTest::mouseClick(window->Control(id), Qt::LeftButton); };
    auto field = [&](int id) { return window->GetFieldText(id); };

    size_t mark = LogTexts(*window).size();
    click(IDC_BTN_ADC_READ);
    ASSERT_TRUE(WaitForLog(*window, "Ok!", mark)) << sim.Log();
    std::vector<std::string> lines = LogTexts(*window);
    EXPECT_EQ(
        std::vector<std::string>(lines.begin() + mark, lines.end()),
        (std::vector<std::string>{"Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
    for (int id : {IDC_ADC_CH1, IDC_ADC_CH2, IDC_EXTRA_VALUE}) {
        bool ok = false;
        QString::fromStdString(field(id)).toInt(&ok);
        EXPECT_TRUE(ok) << id << " shows '" << field(id) << "'";
    }
    EXPECT_EQ(ReadComPort(settings), 9);

    const int written[8] = {100, 3900, 0, 1000, 200, 3800, 5, 65535};
    for (int i = 0; i < 8; ++i)
        window->SetFieldText(IDC_CH1_REF_MIN + i, std::to_string(written[i]));
    mark = LogTexts(*window).size();
    click(IDC_BTN_CONFIG_WRITE);
    ASSERT_TRUE(WaitForLog(*window, "CRC16 Ok!", mark)) << sim.Log();
    EXPECT_EQ(LogTexts(*window)[mark], "Send Config Write");

    for (int i = 0; i < 8; ++i) window->SetFieldText(IDC_CH1_REF_MIN + i, "");
    mark = LogTexts(*window).size();
    click(IDC_BTN_CONFIG_READ);
    ASSERT_TRUE(WaitForLog(*window, "Ok!", mark)) << sim.Log();
    EXPECT_EQ(LogTexts(*window)[mark + 2], "CMD_GET_CONFIG_DATA");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(field(IDC_CH1_REF_MIN + i), std::to_string(written[i]));

    // The log stays scrolled to its newest line.
    for (int i = 0; i < 30; ++i) window->Dialog().AddLog("Send ADC Read");
    QScrollBar *bar = window->LogField()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(boxes.empty());
    window.reset();
    qunsetenv("PORTLINK_COM9");
}

}  // namespace
