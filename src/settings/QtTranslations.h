#pragma once

#include <QString>

#include <string>

class QCoreApplication;

namespace parlaro::settings {

// The name of Qt's own translation file for an interface language code
// ("zh-Hans" → "qtbase_zh_CN"); empty for codes Qt ships none for.
QString qtTranslationFile(const std::string& language);

// Loads Qt's translation for the language from Qt's translations folder, so
// file dialogs and message-box buttons follow it. Read once at start-up:
// a later change of language reaches them at the next start. False when
// there is no such file.
bool installQtTranslations(QCoreApplication& app, const std::string& language);

}  // namespace parlaro::settings
