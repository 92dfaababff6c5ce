#pragma once

#include <QByteArray>
#include <QString>

class QCoreApplication;

// The language of the terminal's texts. Chinese, as on the clock the terminal stands in
// for, is the texts as the code writes them; English is the shipped translation
// (translations/tavelo_en.ts), for a site abroad. Chosen by the value "language" of the
// settings key Software/Tavelo ("en" or "zh"), or else by the locale the terminal runs in
// (LC_ALL, LC_MESSAGES, LANG, the first one set): English for en_*, Chinese otherwise.
class TerminalLanguage
{
public:
    enum class Language
    {
        Chinese,
        English
    };

    // The choice from a settings value and the three locale variables.
    static Language choose(const QString& setting, const QByteArray& lcAll, const QByteArray& lcMessages,
                           const QByteArray& lang);
    // The choice from this process's settings and environment.
    static Language chosen();
    // Makes every text that follows (the window's and attendance's) speak the language;
    // false when its translation cannot be loaded, and the texts stay Chinese.
    static bool install(QCoreApplication& application, Language language);

    // The settings value, beside "database" under the key Software/Tavelo.
    static const QString kValueName;
    // Where the built translation lives in the program's resources.
    static const QString kEnglishTranslation;
};
