#include "platform/AppSettings.h"

#include "platform/AppPaths.h"
#include "platform/Blanks.h"
#include "platform/SettingsStore.h"

const QString AppSettings::kAppKeyPath =
    QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Kelvaro");
const QString AppSettings::kMdbValueName = QStringLiteral("mdb");

QString AppSettings::ReadAppRegString(const QString& valueName, KeyCreation creation)
{
    SettingsStore store;
    QString result;
    if (store.openKey(kAppKeyPath, creation == KeyCreation::CreateMissing))
        result = Blanks::trimmed(store.readString(valueName));
    store.closeKey();
    return result;
}

QString AppSettings::GetAppDir()
{
    return AppPaths::executableDir();
}

QString AppSettings::GetMdbDir(KeyCreation creation)
{
    const QString folder = ReadAppRegString(kMdbValueName, creation);
    if (!folder.isEmpty())
        return folder;
    return GetAppDir() + QStringLiteral("mdb");
}
