#include "app/TerminalLanguage.h"

#include "platform/SettingsStore.h"
#include "query/DatabaseTarget.h"

#include <QCoreApplication>
#include <QTranslator>

const QString TerminalLanguage::kValueName = QStringLiteral("language");
const QString TerminalLanguage::kEnglishTranslation = QStringLiteral(":/i18n/tavelo_en.qm");

TerminalLanguage::Language TerminalLanguage::choose(const QString& setting, const QByteArray& lcAll,
                                                    const QByteArray& lcMessages, const QByteArray& lang)
{
    const QString value = setting.trimmed().toLower();
    if (value == u"en" || value.startsWith(u"en_") || value == u"english")
        return Language::English;
    if (value == u"zh" || value.startsWith(u"zh_") || value == u"chinese")
        return Language::Chinese;
    // As the C library reads them: the first variable set wins, even over a later one.
    for (const QByteArray& locale : {lcAll, lcMessages, lang}) {
        if (!locale.isEmpty())
            return locale == "en" || locale.startsWith("en_") || locale.startsWith("en.") ? Language::English
                                                                                          : Language::Chinese;
    }
    return Language::Chinese;
}

TerminalLanguage::Language TerminalLanguage::chosen()
{
    SettingsStore store;
    QString value;
    if (store.openKey(DatabaseTarget::kKeyPath, false))
        value = store.readString(kValueName);
    store.closeKey();
    return choose(value, qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG"));
}

bool TerminalLanguage::install(QCoreApplication& application, Language language)
{
    if (language == Language::Chinese)
        return true;
    auto* translator = new QTranslator(&application);
    if (!translator->load(kEnglishTranslation)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
