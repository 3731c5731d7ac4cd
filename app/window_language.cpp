#include "app/window_language.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

#include <memory>

namespace tessavin {

namespace {

const QString kTranslations = QStringLiteral(":/i18n");
const QString kPrefix = QStringLiteral("tessavin_");

QString translationFile(const QString& language)
{
    return kTranslations + QLatin1Char('/') + kPrefix + language + QStringLiteral(".qm");
}

// The one translation installed in the application, and its language.
std::unique_ptr<QTranslator>& installed()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

QString& installedLanguage()
{
    static QString language = defaultWindowLanguage();
    return language;
}

} // namespace

QStringList WindowLanguages()
{
    QStringList languages{defaultWindowLanguage()};
    const QStringList files
        = QDir(kTranslations).entryList({kPrefix + QStringLiteral("*.qm")}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        languages << file.mid(kPrefix.size()).chopped(3);
    return languages;
}

LanguageChoice ChooseWindowLanguage(const std::optional<QString>& option, const QString& stored)
{
    LanguageChoice choice;
    choice.fromOption = option.has_value();
    const QString asked = (option ? *option : stored).trimmed().toLower();
    if (asked.isEmpty() && !option)
        return choice;
    const QStringList known = WindowLanguages();
    if (known.contains(asked))
        choice.language = asked;
    else
        choice.refusal = QStringLiteral("unknown language '%1' (available: %2)")
                             .arg((option ? *option : stored).trimmed(), known.join(QStringLiteral(", ")));
    return choice;
}

bool UseWindowLanguage(const QString& language)
{
    auto translator = std::make_unique<QTranslator>();
    if (language != defaultWindowLanguage() && !translator->load(translationFile(language)))
        return false;
    if (installed())
        QCoreApplication::removeTranslator(installed().get());
    installed().reset();
    if (language != defaultWindowLanguage()) {
        QCoreApplication::installTranslator(translator.get());
        installed() = std::move(translator);
    }
    installedLanguage() = language;
    return true;
}

QString WindowLanguage() { return installedLanguage(); }

} // namespace tessavin
