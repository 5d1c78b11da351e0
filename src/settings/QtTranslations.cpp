#include "settings/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace parlaro::settings {

QString qtTranslationFile(const std::string& language)
{
    static const std::pair<const char*, const char*> names[] = {
        {"ar", "ar"}, {"de", "de"}, {"en", "en"}, {"es", "es"},         {"fr", "fr"},         {"id", ""},
        {"it", "it"}, {"ja", "ja"}, {"ko", "ko"}, {"nl", "nl"},         {"pl", "pl"},         {"pt-BR", "pt_BR"},
        {"th", ""},   {"tr", "tr"}, {"vi", ""},   {"zh-Hans", "zh_CN"}, {"zh-Hant", "zh_TW"},
    };
    for (const auto& [code, qt] : names) {
        if (language == code)
            return *qt ? QStringLiteral("qtbase_") + QString::fromLatin1(qt) : QString();
    }
    return {};
}

bool installQtTranslations(QCoreApplication& app, const std::string& language)
{
    const QString file = qtTranslationFile(language);
    if (file.isEmpty())
        return false;
    auto* translator = new QTranslator(&app);
    if (!translator->load(file, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace parlaro::settings
