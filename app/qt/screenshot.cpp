// loopset-shot: renders the main window after an ADC read and a
// configuration read, with a caption strip showing the title and icon, into a
// PNG; or the live view after some seconds of samples, or the calibration's
// window after a run against a simulated instrument. Runs on any Qt platform,
// offscreen included, so the README's pictures can be remade on a machine
// without a display.
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>

#include "dialog_units.h"
#include "loopset_window.h"
#include "qt_texts.h"
#include "machine_text.h"
#include "settings.h"

namespace {

int CountAnswers(const std::string &log) {
    int n = 0;
    for (size_t at = log.find("\tOk!"); at != std::string::npos; at = log.find("\tOk!", at + 1))
        ++n;
    return n;
}

// Presses a button and lets the window run until the device's answer is in.
bool PressAndWait(CLoopsetWindow &window, int buttonId) {
    const int before = CountAnswers(window.Dialog().Log().Text());
    static_cast<QPushButton *>(window.Control(buttonId))->click();
    QDeadlineTimer deadline(2000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (CountAnswers(window.Dialog().Log().Text()) > before) return true;
    }
    return false;
}

QImage WithCaption(const QImage &client, const QIcon &icon, const QString &title,
                   const QFont &font) {
    const int captionHeight = QFontMetrics(font).height() + 12;
    QImage out(client.width() + 2, client.height() + captionHeight + 1, QImage::Format_ARGB32);
    out.fill(QColor(0x3c, 0x3c, 0x3c));
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const int iconSize = captionHeight - 8;
    icon.paint(&p, QRect(6, 4, iconSize, iconSize));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(iconSize + 12, 0, out.width() - iconSize - 40, captionHeight),
               Qt::AlignVCenter | Qt::AlignLeft, title);
    p.drawText(QRect(out.width() - 26, 0, 20, captionHeight), Qt::AlignCenter, QStringLiteral("✕"));
    p.drawImage(1, captionHeight, client);
    return out;
}

// A calibration of CH.1 at three points, each current set by a line into the
// simulated instrument's control FIFO (source), adjusted, as left, done.
bool RunCalibration(CCalibrationWindow &cal, const QString &source) {
    using Text = CCalibrationPresenter::Text;
    CCalibrationPresenter &presenter = cal.Presenter();
    const auto type = [&](Text field, const char *text) {
        static_cast<QLineEdit *>(cal.Control(field))->setText(QString::fromUtf8(text));
    };
    type(Text::Points, "4,12,20");
    type(Text::Tag, "PT-101");
    type(Text::Operator, "A. Kim");
    type(Text::Reference, "loop calibrator SN 4711");
    presenter.SetSteadySeconds(1);
    const auto press = [&](Text button) { static_cast<QPushButton *>(cal.Control(button))->click(); };
    press(Text::Start);
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const CCalibration::Step step = presenter.Procedure().CurrentStep();
        if (step == CCalibration::Step::Done) return true;
        if (step == CCalibration::Step::Stopped) break;
        if (presenter.CanNext()) {
            std::ofstream(source.toStdString())
                << "1=" << FixedText(presenter.Procedure().NominalMa(), 3) << '\n';
            press(Text::Next);
        } else if (presenter.CanAdjust()) {
            press(Text::Adjust);
        }
    }
    fprintf(stderr, "loopset-shot: the calibration did not end: %s\n", presenter.Prompt().c_str());
    return false;
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the loopset window into a PNG."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("COM port number of the device (1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    parser.addOption(portOption);
    const QCommandLineOption liveOption(
        QStringLiteral("live-view"),
        QStringLiteral("Also render the live view, after some seconds of samples, into this PNG."),
        QStringLiteral("file"));
    parser.addOption(liveOption);
    const QCommandLineOption calibrationOption(
        QStringLiteral("calibration"),
        QStringLiteral("Instead, render the calibration's window after a run into this PNG."),
        QStringLiteral("file"));
    parser.addOption(calibrationOption);
    const QCommandLineOption sourceOption(
        QStringLiteral("source"),
        QStringLiteral("The control FIFO of loopsim modelling an instrument (--calibration)."),
        QStringLiteral("fifo"));
    parser.addOption(sourceOption);
    const QCommandLineOption langOption(QStringLiteral("lang"),
                                        QStringLiteral("The windows' language: ko or en."),
                                        QStringLiteral("ko|en"));
    parser.addOption(langOption);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("PNG to write."));
    parser.process(app);
    InstallTranslation(ProgramLanguage(parser.value(langOption)));
    const bool calibration = parser.isSet(calibrationOption);
    if (parser.positionalArguments().size() != (calibration ? 0 : 1) ||
        calibration != parser.isSet(sourceOption))
        parser.showHelp(2);
    const QString file = calibration ? QString() : parser.positionalArguments().front();

    // Its own settings file: the picture must not depend on, or change, the
    // port a user last chose.
    QTemporaryDir dir;
    const std::string settings = (dir.path() + QStringLiteral("/config.ini")).toStdString();
    WriteComPort(settings, parser.value(portOption).toInt());

    CLoopsetWindow window(settings);
    bool boxShown = false;
    window.SetBoxHook([&](BoxKind, const QString &, const QString &text) {
        fprintf(stderr, "loopset-shot: %s\n", qPrintable(text));
        boxShown = true;
    });
    window.InitDialog();
    window.show();
    if (boxShown) return 1;
    if (calibration) {
        window.OpenCalibration();
        CCalibrationWindow &cal = *window.CalibrationWindow();
        cal.resize(1000, 620);
        const QString calFile = parser.value(calibrationOption);
        if (!RunCalibration(cal, parser.value(sourceOption))) return 1;
        QCoreApplication::processEvents();
        if (!WithCaption(cal.grab().toImage(), window.windowIcon(), cal.windowTitle(), window.font())
                 .save(calFile)) {
            fprintf(stderr, "loopset-shot: cannot write %s\n", qPrintable(calFile));
            return 1;
        }
        window.EndDialog(kDialogCancel);
        return 0;
    }
    if (!PressAndWait(window, IDC_BTN_ADC_READ) || !PressAndWait(window, IDC_BTN_CONFIG_READ)) {
        fprintf(stderr, "loopset-shot: the device did not answer\n");
        return 1;
    }
    QCoreApplication::processEvents();
    const QImage shot = WithCaption(window.grab().toImage(), window.windowIcon(),
                                    window.windowTitle(), window.font());
    if (!shot.save(file)) {
        fprintf(stderr, "loopset-shot: cannot write %s\n", qPrintable(file));
        return 1;
    }
    if (parser.isSet(liveOption)) {
        window.OpenLiveView();
        CLiveViewWindow *live = window.LiveViewWindow();
        live->RateBox()->setValue(20);
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 8000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QString liveFile = parser.value(liveOption);
        if (live->Model().Size() == 0 ||
            !WithCaption(live->grab().toImage(), window.windowIcon(), live->windowTitle(),
                         window.font())
                 .save(liveFile)) {
            fprintf(stderr, "loopset-shot: no live view picture in %s\n", qPrintable(liveFile));
            return 1;
        }
        live->close();
    }
    window.EndDialog(kDialogCancel);
    return 0;
}
