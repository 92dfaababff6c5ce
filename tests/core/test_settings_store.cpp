// The settings file as people write it by hand and as Qt's writer leaves it: what the
// terminal reads from it, and what it does to the file.
#include "platform/AppSettings.h"
#include "platform/Blanks.h"
#include "platform/SettingsStore.h"
#include "query/DatabaseTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kHeader = "[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\n";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& text)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(text), text.size());
}

// A user's file and a machine-wide file of their own for each test.
class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           m_dir.filePath(QStringLiteral("user")));
        m_savedConfigDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS",
                (m_dir.filePath(QStringLiteral("system")) + QStringLiteral(":/etc/xdg")).toUtf8());
        m_user = SettingsStore::userStorePath();
        m_system = SettingsStore::systemStorePath();
        ASSERT_TRUE(m_user.startsWith(m_dir.path()));
        ASSERT_EQ(m_system, m_dir.filePath(QStringLiteral("system/tavelo/registry.ini")));
    }
    void TearDown() override { qputenv("XDG_CONFIG_DIRS", m_savedConfigDirs); }

    QString fallback() const { return AppSettings::GetAppDir() + QStringLiteral("mdb"); }

    QTemporaryDir m_dir;
    QByteArray m_savedConfigDirs;
    QString m_user;
    QString m_system;
};

TEST_F(SettingsStoreTest, FolderIsReadAsWrittenWhateverItHolds)
{
    const struct
    {
        QByteArray line;
        QString folder;
    } cases[] = {
        {"mdb=/tmp/a;b", QStringLiteral("/tmp/a;b")},
        {"mdb=/tmp/q\"x", QStringLiteral("/tmp/q\"x")},
        {"mdb=/tmp/back\\slash", QStringLiteral("/tmp/back\\slash")},
        {"mdb=/a, /b", QStringLiteral("/a, /b")},
        {"mdb=/srv/kq=2024#1", QStringLiteral("/srv/kq=2024#1")},
        {"mdb=\"/tmp/q\"x", QStringLiteral("\"/tmp/q\"x")},
        {"mdb = \t D:\\Data\\ \t", QStringLiteral("D:\\Data\\")},
        {"mdb=/data/考勤 数据", QStringLiteral("/data/考勤 数据")},
        {"mdb=@home", QStringLiteral("@home")},
    };
    for (const auto& c : cases) {
        writeFile(m_user, kHeader + c.line + "\r\n");
        EXPECT_EQ(AppSettings::GetMdbDir(), c.folder) << c.line.constData();
    }
}

TEST_F(SettingsStoreTest, NamesMatchWithoutRegardToCase)
{
    const QByteArray files[] = {
        "[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nMDB=/srv/kq\n",
        "[software/microsoft/windows/currentversion/kelvaro]\nmdb=/srv/kq\n",
        "[SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\KELVARO]\nMdb=/srv/kq\n",
        "[\\Software\\Microsoft\\Windows\\CurrentVersion\\Kelvaro\\]\nmdb=/srv/kq\n",
        // The layout of Qt's own writer: the first name is the section.
        "[Software]\nmicrosoft\\Windows\\CurrentVersion\\Kelvaro\\MDB=/srv/kq\n",
        "[software/microsoft]\nWindows/CurrentVersion/Kelvaro/mdb=/srv/kq\n",
    };
    for (const QByteArray& text : files) {
        writeFile(m_user, text);
        EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/srv/kq")) << text.constData();
        // The key was found: nothing was added.
        EXPECT_EQ(readAll(m_user), text);
    }
}

TEST_F(SettingsStoreTest, ValuesWrittenByQtReadAsTheyWereMeant)
{
    const QString folders[] = {
        QStringLiteral("/srv/kq,2024"), QStringLiteral("/tmp/a;b"),
        QStringLiteral("/tmp/q\"x"),    QStringLiteral(" /tmp/blank ends/"),
        QStringLiteral("/data/考勤"),   QStringLiteral("@home"),
        QStringLiteral("/tab\there"),   QStringLiteral("/ctl\a\b\f\n\r\v/end"),
    };
    for (const QString& folder : folders) {
        QFile::remove(m_user);
        {
            QSettings settings(m_user, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Software/Microsoft/Windows/CurrentVersion/Kelvaro/mdb"),
                              folder);
        }
        EXPECT_EQ(AppSettings::GetMdbDir(), Blanks::trimmed(folder)) << readAll(m_user).constData();
    }
    // A folder in double quotes, as an earlier README told people to write one with a comma.
    writeFile(m_user, kHeader + "mdb=\"/srv/kq,2024\"\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/srv/kq,2024"));
}

TEST_F(SettingsStoreTest, TypedCommentedAndBlankValuesFallBack)
{
    const QByteArray lines[] = {
        "mdb=@Variant(\\0\\0\\0\\x2\\0\\0\\0*)", // a number as Qt writes one
        "mdb=",
        "mdb=\"  \"",
        ";mdb=/srv/kq",
        "# mdb=/srv/kq",
        "mdb/x=/srv/kq",
        "other=/srv/kq",
    };
    for (const QByteArray& line : lines) {
        writeFile(m_user, kHeader + line + "\n");
        EXPECT_EQ(AppSettings::GetMdbDir(), fallback()) << line.constData();
    }
    // The same value name in another key is not this key's.
    writeFile(m_user, "[Software/Microsoft/Windows/CurrentVersion/Kelvaro2]\nmdb=/srv/kq\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
}

TEST_F(SettingsStoreTest, CreatingTheKeyKeepsTheFileByteForByte)
{
    const QByteArray before =
        "; written by hand\r\n[Other]\r\nfolder = \"x;y\" , z\r\n\r\n[Software/Tavelo]\n"
        "database=/srv/kq.mdb\nmdb=/not/here";
    writeFile(m_user, before);
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
    EXPECT_EQ(readAll(m_user), before + "\n" + kHeader);
    // Once there, it is not added again.
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
    EXPECT_EQ(readAll(m_user), before + "\n" + kHeader);

    // No file at all: the folder and the file are made, holding the header only.
    QDir(QFileInfo(m_user).absolutePath()).removeRecursively();
    EXPECT_EQ(AppSettings::ReadAppRegString(QStringLiteral("mdb")), QString());
    EXPECT_EQ(readAll(m_user), kHeader);
}

TEST_F(SettingsStoreTest, MachineWideFileBacksTheUsersOne)
{
    writeFile(m_system, kHeader + "mdb=/var/lib/tavelo\n");

    // No user file: the key is still created there, the value comes from the machine.
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/var/lib/tavelo"));
    EXPECT_EQ(readAll(m_user), kHeader);

    // A blank user value, or one of another type, does not hide the machine's.
    writeFile(m_user, kHeader + "mdb=  \n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/var/lib/tavelo"));
    writeFile(m_user, kHeader + "mdb=@Variant(\\0\\0\\0\\x2\\0\\0\\0*)\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/var/lib/tavelo"));

    // The user's own value wins.
    writeFile(m_user, kHeader + "MDB=/home/op/kq\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/home/op/kq"));

    // A user's store that cannot be used leaves the machine's.
    QFile::remove(m_user);
    ASSERT_TRUE(QDir().mkpath(m_user));
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/var/lib/tavelo"));
}

TEST_F(SettingsStoreTest, MachineWideFileDefaultsToEtcXdg)
{
    qunsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(SettingsStore::systemStorePath(), QStringLiteral("/etc/xdg/tavelo/registry.ini"));
    qputenv("XDG_CONFIG_DIRS", "relative/dir:/opt/conf:/etc/xdg");
    EXPECT_EQ(SettingsStore::systemStorePath(), QStringLiteral("/opt/conf/tavelo/registry.ini"));
}

TEST_F(SettingsStoreTest, DatabaseValueIsReadWithoutCreatingItsKey)
{
    EXPECT_TRUE(DatabaseTarget::configured().isNone());
    EXPECT_FALSE(QFile::exists(m_user));

    writeFile(m_user, "[software/tavelo]\nDATABASE = /srv/att;2/kq.mdb \n");
    DatabaseTarget target = DatabaseTarget::configured();
    EXPECT_EQ(target.kind(), DatabaseTarget::Kind::File);
    EXPECT_EQ(target.filePath(), QStringLiteral("/srv/att;2/kq.mdb"));

    // From the machine-wide file when the user has none.
    QFile::remove(m_user);
    writeFile(m_system, "[Software/Tavelo]\ndatabase=service=kq\n");
    target = DatabaseTarget::configured();
    EXPECT_TRUE(target.isServer());
    EXPECT_EQ(target.conninfo(), QStringLiteral("service='kq'"));
    EXPECT_FALSE(QFile::exists(m_user));

    // The command line wins over both.
    target = DatabaseTarget::chosen(DatabaseTarget::parse(QStringLiteral("/tmp/other.mdb")));
    EXPECT_EQ(target.filePath(), QStringLiteral("/tmp/other.mdb"));
    EXPECT_TRUE(DatabaseTarget::chosen(DatabaseTarget()).isServer());
}

} // namespace
