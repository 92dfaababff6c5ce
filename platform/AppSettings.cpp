#include "platform/AppSettings.h"

#include "platform/AppPaths.h"
#include "platform/Blanks.h"
#include "platform/SettingsStore.h"

const QString AppSettings::kAppKeyPath =
    QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Kelvaro");
const QString AppSettings::kMdbValueName = QStringLiteral("mdb");

QString AppSettings::ReadAppRegString(const QString& valueName)
{
    SettingsStore store;
    QString result;
    if (store.openKey(kAppKeyPath, true))
        result = Blanks::trimmed(store.readString(valueName));
    store.closeKey();
    return result;
}

QString AppSettings::GetAppDir()
{
    return AppPaths::executableDir();
}

QString AppSettings::GetMdbDir()
{
    const QString folder = ReadAppRegString(kMdbValueName);
    if (!folder.isEmpty())
        return folder;
    return GetAppDir() + QStringLiteral("mdb");
}
