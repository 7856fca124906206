// loopset: the two-channel 4-20 mA device's setup window.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "loopset_app.h"
#include "qt_texts.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads and sets up a two-channel 4-20 mA device on a serial port.\n"
                       "COMn is the device in PORTLINK_COM<n> when that is set."));
    parser.addHelpOption();
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                       QStringLiteral("Close the window after <ms> milliseconds."),
                                       QStringLiteral("ms"));
    parser.addOption(quitAfter);
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("The windows' language: ko or en (default: the "
                                                 "settings' Lang, else the user's)."),
                                  QStringLiteral("ko|en"));
    parser.addOption(lang);
    parser.process(app);
    if (parser.isSet(lang) && !ParseLanguage(parser.value(lang).toStdString())) {
        fprintf(stderr, "loopset: --lang is ko or en, not '%s'\n", qPrintable(parser.value(lang)));
        return 2;
    }
    InstallTranslation(ProgramLanguage(parser.value(lang)));

    CLoopsetApp::Options options;
    if (parser.isSet(quitAfter)) {
        bool ok = false;
        options.quitAfterMs = parser.value(quitAfter).toInt(&ok);
        if (!ok || options.quitAfterMs <= 0) {
            fprintf(stderr, "loopset: --quit-after needs a positive number of milliseconds\n");
            return 2;
        }
    }
    CLoopsetApp theApp(options);
    theApp.InitInstance();
    return 0;
}
