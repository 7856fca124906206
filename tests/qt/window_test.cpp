// The Qt window: its layout against the template, keys, font, the path of
// portlink's posted notifications, the message boxes from other threads, and
// the three buttons against the simulated device.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <atomic>
#include <future>
#include <thread>

#include "dialog_layout.h"
#include "dialog_units.h"
#include "fake_portlink.h"
#include "frames.h"
#include "text_number.h"
#include "loopset_window.h"
#include "settings.h"
#include "sim_process.h"

class WindowTest : public ::testing::Test {
protected:
    // A window on the stored `port`; boxes are recorded instead of shown.
    auto MakeWindow(int port, const PortlinkApi &api = FakePortlinkApi()) {
        WriteComPort(settings, port);
        auto window = std::make_unique<CLoopsetWindow>(settings, api);
        window->SetBoxHook(
            [this](BoxKind, const QString &, const QString &text) { boxes << text; });
        window->InitDialog();
        return window;
    }

    QTemporaryDir dir;
    std::string settings = (dir.path() + "/config.ini").toStdString();
    QStringList boxes;
};

static int IdOf(QWidget *w) {
    // The port selector's edit field has the focus on the selector's behalf.
    for (; w; w = w->parentWidget())
        if (w->objectName().startsWith("IDC_")) return w->objectName().mid(4).toInt();
    return 0;
}

TEST_F(WindowTest, ControlsFitWithoutOverlapOrCutTextInAKoreanFontWithEveryGlyph) {
    auto window = MakeWindow(1);
    const QFontMetrics fm(window->font());
    const QList<QWidget *> controls = window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(controls.size(), static_cast<qsizetype>(std::size(kDialogControls)));
    const QRect group = controls.front()->geometry();
    EXPECT_TRUE(window->rect().contains(group));
    for (QWidget *w : controls.mid(1)) {
        SCOPED_TRACE(w->objectName().toStdString() + " " + w->metaObject()->className());
        EXPECT_TRUE(window->rect().contains(w->geometry()));
        for (QWidget *other : controls.mid(1))
            EXPECT_TRUE(other == w || !w->geometry().intersects(other->geometry()))
                << "overlaps " << other->objectName().toStdString();
        EXPECT_TRUE(w->geometry().bottom() >= group.bottom() || group.contains(w->geometry()));

        auto *label = qobject_cast<QLabel *>(w);
        auto *button = qobject_cast<QPushButton *>(w);
        if (auto *combo = qobject_cast<QComboBox *>(w)) {
            EXPECT_LE(fm.horizontalAdvance("30"), combo->lineEdit()->width());
        }
        if (!label && !button && !qobject_cast<QLineEdit *>(w)) continue;
        // The text shown inside the frame (65535 is the widest value a field holds).
        const int frame =
            label ? 0 : w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
        const QRect room =
            (label ? label->contentsRect() : w->rect()).adjusted(frame, frame, -frame, -frame);
        const QString text = label ? label->text() : button ? button->text() : "65535";
        const int pad = label ? 0 : (button ? 8 : 4);
        EXPECT_LE(fm.horizontalAdvance(text) + pad, room.width()) << text.toStdString();
        EXPECT_LE(fm.height(), room.height());
    }

    const QFontInfo info(window->font());
    EXPECT_TRUE(DialogFontFamilies().contains(info.family())) << info.family().toStdString();

    QString texts = window->windowTitle() +
                    "사용할 수 없는 전송 속도 입니다.시리얼 포트 COM 를(을) 열수 없습니다."
                    "환경 설정에서 사용할 포트를 선택 해주세요.IP 설정 오류";
    for (const ControlSpec &entry : kDialogControls) texts += QString::fromUtf8(entry.text);
    QString hangul;
    // The font itself, not a fallback found glyph by glyph.
    const QRawFont raw = QRawFont::fromFont(window->font());
    for (QChar c : texts)
        if (c.script() == QChar::Script_Hangul) hangul += c;
    ASSERT_GT(hangul.size(), 40);
    for (QChar c : hangul) EXPECT_TRUE(raw.supportsCharacter(c)) << QString(c).toStdString();
}

TEST_F(WindowTest, TabFollowsTheTemplateEnterKeepsTheWindowOpenEscapeClosesIt) {
    auto window = MakeWindow(1);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_FALSE(window->windowIcon().availableSizes().isEmpty());  // from the resource

    std::vector<int> visited = {IdOf(QApplication::focusWidget())};
    for (size_t i = 0; i < std::size(kTabOrder); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(IdOf(QApplication::focusWidget()));
    }
    std::vector<int> expected(std::begin(kTabOrder), std::end(kTabOrder));
    expected.push_back(kTabOrder[0]);  // and round again
    EXPECT_EQ(visited, expected);

    for (int id : {IDC_CH1_REF_MIN, IDC_ADC_CH1, IDC_LOG, IDC_COM_PORT}) {
        window->Control(id)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(window->isVisible()) << id;
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), kDialogCancel);
}

TEST_F(WindowTest, PostedNotificationReachesReadSerialOnTheUiThread) {
    auto window = MakeWindow(7);
    auto reads = [] { return std::count(Fake().calls.begin(), Fake().calls.end(), "readcom(7)"); };
    PortlinkWindow *pw = window->PortWindow();
    // From a listener thread, as portlink posts: one for another port, then two for ours.
    std::thread([pw] {
        for (int port : {3, 7, 7})
            pw->post(pw->context, PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_RXCHAR, port);
    }).join();
    EXPECT_EQ(reads(), 0) << "read before the UI thread got the message";
    EXPECT_TRUE(QTest::qWaitFor([&] { return reads() >= 2; }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(reads(), 2);
}

TEST_F(WindowTest, ANumberTypedIntoThePortSelectorIsThePortUsed) {
    auto window = MakeWindow(1);
    QLineEdit *typed = window->PortSelector()->lineEdit();
    // Typed, not picked from the list, and no Enter: still that port.
    typed->selectAll();
    QTest::keyClicks(typed, "12");
    window->Dialog().OnBtnAdcRead();
    EXPECT_EQ(ReadComPort(settings), 12);

    typed->selectAll();
    QTest::keyClicks(typed, "31");
    EXPECT_EQ(window->GetPortSelection(), -1);  // no item: port 0, which will not open
}

TEST_F(WindowTest, BoxFromAWorkerRunsOnTheUiThreadAndTheWorkerWaitsForItOrTheWindowsEnd) {
    auto window = std::make_unique<CLoopsetWindow>(settings, FakePortlinkApi());
    std::atomic<bool> returned{false};
    bool seen = false;
    QTimer poll;  // the box runs a modal loop: inspect and close it from inside that loop
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || std::exchange(seen, true)) return;
        EXPECT_EQ(box->thread(), QThread::currentThread());
        EXPECT_EQ(box->windowTitle(), ApplicationTitle());
        EXPECT_EQ(box->text(), "COM 7를(을) 열수 없습니다.\n\n환경 설정에서");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_FALSE(returned);
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    std::thread worker([&] {
        window->ShowWarning("COM 7를(을) 열수 없습니다.\r\n\r\n환경 설정에서");
        returned = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(seen);

    // Nobody runs the event loop now: the boxes can never be shown. Several
    // workers, so that one is still waking when the window is gone.
    std::vector<std::future<void>> shown;
    for (int i = 0; i < 4; ++i)
        shown.push_back(std::async(std::launch::async, [w = window.get()] {
            w->ShowError("socket()", "Connection refused");
        }));
    EXPECT_EQ(shown[0].wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    window.reset();
    for (auto &one : shown)
        EXPECT_EQ(one.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(WindowTest, TheThreeButtonsAgainstTheSimulatedDevice) {
    CSimProcess sim;
    ASSERT_TRUE(sim.Start(LOOPSIM_PATH, {})) << sim.Log();
    qputenv("PORTLINK_COM9", QByteArray::fromStdString(sim.Path()));
    auto window = MakeWindow(9, RealPortlink());
    window->show();
    // Click, and wait for the log to end with these texts.
    auto click = [&](int id, const QStringList &texts) {
        QTest::mouseClick(window->Control(id), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                QStringList lines = window->LogField()->toPlainText().split('\n');
                lines = lines.mid(lines.size() - texts.size());
                for (QString &line : lines) line = line.section('\t', 1);
                return lines == texts;
            },
            3000))
            << texts.join('|').toStdString() << sim.Log();
    };
    click(IDC_BTN_ADC_READ, {"Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"});
    for (int id : {IDC_ADC_CH1, IDC_ADC_CH2, IDC_EXTRA_VALUE}) {
        const std::string value = window->GetFieldText(id);
        EXPECT_EQ(std::to_string(FieldTextToWord(value.c_str())), value);  // a number
    }
    click(IDC_BTN_CONFIG_READ, {"Send Config Read", "Serial Full", "CMD_GET_CONFIG_DATA", "Ok!"});
    const int stored[8] = {819, 4095, 0, 1000, 819, 4095, 0, 2000};  // loopsim's first block
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(window->GetFieldText(IDC_CH1_REF_MIN + i), std::to_string(stored[i]));
    click(IDC_BTN_CONFIG_WRITE,
          {"Send Config Write", "Serial Full", "CMD_SET_CONFIG_DATA", "CRC16 Ok!"});
    EXPECT_TRUE(boxes.empty()) << boxes.join("|").toStdString();

    // The live view polls the same port, quietly, and a button still works
    // between its samples; its readings mean what the configuration says.
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
    CLiveViewWindow *live = window->LiveViewWindow();
    ASSERT_TRUE(live && live->isVisible());
    live->RateBox()->setValue(20);
    const CLiveViewModel &model = live->Model();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.Size() >= 5; }, 3000)) << sim.Log();
    click(IDC_BTN_CONFIG_READ, {"Send Config Read", "Serial Full", "CMD_GET_CONFIG_DATA", "Ok!"});
    const size_t before = model.Size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.Size() >= before + 5; }, 3000));
    EXPECT_EQ(model.Failures(), 0u);
    EXPECT_TRUE(live->ValueLabel(0)->text().contains(" mA ")) << live->ValueLabel(0)->text().toStdString();
    QTest::mouseClick(live->CaptureButton(0, false), Qt::LeftButton);
    // The mean at the click, which may leave out the oldest reading of this one.
    const double mean = *model.CaptureMean(0, model.At(model.Size() - 1).seconds);
    EXPECT_NEAR(std::stoi(window->GetFieldText(IDC_CH1_REF_MIN)), mean, 1.0);
    live->close();
    const QString log = window->LogField()->toPlainText();
    EXPECT_EQ(log.count("CMD_GET_ADC_VALUE"), 1) << "no line per sample";
    EXPECT_TRUE(log.contains("Live View Start") && log.trimmed().endsWith("Live View Stop"));

    // The eight fields to a file and back; a file that is no configuration
    // changes nothing.
    const QString file = dir.path() + "/line3.json";
    ASSERT_TRUE(window->SaveConfiguration(file));
    window->SetFieldText(IDC_CH2_DISP_MAX, "7");
    ASSERT_TRUE(window->LoadConfiguration(file));
    EXPECT_EQ(window->GetFieldText(IDC_CH2_DISP_MAX), "2000");
    QFile bad(dir.path() + "/bad.json");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write("{\"ch1\": 5}") > 0);
    bad.close();
    window->SetFieldText(IDC_CH2_DISP_MAX, "7");
    EXPECT_FALSE(window->LoadConfiguration(bad.fileName()));
    EXPECT_EQ(window->GetFieldText(IDC_CH2_DISP_MAX), "7");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].endsWith("bad.json: no ch1.ref_min")) << boxes[0].toStdString();
    qunsetenv("PORTLINK_COM9");
}
