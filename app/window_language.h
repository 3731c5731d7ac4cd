#pragma once
// The language of the windows. Their texts are written in Russian, as the
// controller's engineers know them; that is language "ru" and needs no
// translation. Other languages are translations compiled into the program
// (":/i18n/tessavin_<code>.qm", made from translations/tessavin_<code>.ts).
// Only what a person reads is translated: trace lines, record lines and files
// keep their texts whatever the language.
#include <QString>
#include <QStringList>

#include <optional>

namespace tessavin {

// The language the windows show when nothing chooses another.
inline QString defaultWindowLanguage() { return QStringLiteral("ru"); }

// Every language the windows can show: "ru" first, then the translations the
// program carries.
QStringList WindowLanguages();

// The language chosen by --lang (`option`, when given) or else by [ui] language
// in the settings file (`stored`, empty: not set). A code is taken in any case,
// blanks around it ignored.
struct LanguageChoice {
    QString language = defaultWindowLanguage();
    // Why a code was refused, naming the languages there are; empty when none was.
    QString refusal;
    bool fromOption = false;
};
LanguageChoice ChooseWindowLanguage(const std::optional<QString>& option, const QString& stored);

// Installs the translation of `language` in the application, replacing the one
// installed before ("ru": none). Windows built afterwards show its texts. False
// for a language the program does not carry.
bool UseWindowLanguage(const QString& language);

// The language installed by UseWindowLanguage ("ru" until then).
QString WindowLanguage();

} // namespace tessavin
