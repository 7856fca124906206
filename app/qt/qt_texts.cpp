#include "qt_texts.h"

#include <QCoreApplication>
#include <QTranslator>

#include "settings.h"

std::string CQtTexts::Text(UiText id) const {
    return QCoreApplication::translate("loopset", SourceText(id)).toStdString();
}

const CQtTexts &QtTexts() {
    static const CQtTexts texts;
    return texts;
}

QString DialogText(const char *designed) {
    return QCoreApplication::translate("dialog", designed);
}

namespace {

QTranslator &Translator() {
    static QTranslator translator;
    return translator;
}

}  // namespace

void RemoveTranslation() {
    QCoreApplication::removeTranslator(&Translator());
}

bool InstallTranslation(UiLanguage language) {
    QTranslator &translator = Translator();
    RemoveTranslation();
    if (!translator.load(QStringLiteral(":/i18n/loopset_%1.qm").arg(LanguageCode(language))))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

UiLanguage ProgramLanguage(const QString &commandLine) {
    const SettingsFiles files = ProgramSettingsFiles();
    return ChooseLanguage(ParseLanguage(commandLine.toStdString()),
                          StoredLanguage(files.path, files.fallback), SystemLocaleName());
}
