#include "platform/DatabaseError.h"
#include "platform/QueryStateError.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/ConnectionString.h"
#include "sqlite/SqliteError.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sqlite3.h>

using TestSupport::DevDatabase;
using TestSupport::fileBytes;
using TestSupport::jetConnectionString;
using TestSupport::writeFile;

namespace {

// Opens "SELECT * FROM employ" through a fresh connection; returns the provider's message.
QString openFails(const QString& connectionString)
{
    AdoConnection connection;
    connection.setConnectionString(connectionString);
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    try {
        query.open();
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(query.isOpen());
        EXPECT_FALSE(connection.connected());
        return e.message();
    }
    ADD_FAILURE() << "open succeeded";
    return {};
}

} // namespace

TEST(ProviderConnection, BadFilesFailNamingTheFileAndAreNeverCreatedOrChanged)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("kq.mdb"));
    EXPECT_TRUE(openFails(jetConnectionString(missing)).contains(missing));
    EXPECT_FALSE(QFileInfo::exists(missing));
    // A URI-looking name must not be taken as "create it".
    const QString uri = QStringLiteral("file:%1?mode=rwc").arg(missing);
    EXPECT_FALSE(openFails(jetConnectionString(uri)).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));

    const QString folder = dir.filePath(QStringLiteral("folder.mdb"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString folderMessage = openFails(jetConnectionString(folder));
    EXPECT_TRUE(folderMessage.contains(folder));
    EXPECT_TRUE(folderMessage.contains(QStringLiteral("folder")));

    const QString text = dir.filePath(QStringLiteral("notes.mdb"));
    const QByteArray textBytes("just some notes\nnot a database\n");
    writeFile(text, textBytes);
    EXPECT_TRUE(openFails(jetConnectionString(text)).contains(text));
    EXPECT_EQ(fileBytes(text), textBytes);

    const QString empty = dir.filePath(QStringLiteral("empty.mdb"));
    writeFile(empty, {});
    EXPECT_TRUE(openFails(jetConnectionString(empty)).contains(empty));
    EXPECT_EQ(QFileInfo(empty).size(), 0);

    for (const char* product : {"Standard Jet DB", "Standard ACE DB"}) {
        const QString access = dir.filePath(QStringLiteral("access.mdb"));
        QByteArray bytes(2048, '\0');
        bytes.replace(4, 15, product);
        writeFile(access, bytes);
        const QString message = openFails(jetConnectionString(access));
        EXPECT_TRUE(message.contains(access)) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("Microsoft Access database; bring it over with: kqdb "
                                                    "import-mdb %1 NEW.sqlite")
                                         .arg(access)))
            << message.toStdString();
        EXPECT_EQ(fileBytes(access), bytes);
    }
    // A path a shell would split or expand is quoted, so that the command can be pasted.
    const QString odd = dir.filePath(QStringLiteral("kq of O'Neil $HOME.mdb"));
    QByteArray bytes(2048, '\0');
    bytes.replace(4, 15, "Standard Jet DB");
    writeFile(odd, bytes);
    const QString message = openFails(jetConnectionString(odd));
    const QString quoted = QStringLiteral("'%1'").arg(QString(odd).replace(u'\'', QStringLiteral("'\\''")));
    EXPECT_TRUE(message.contains(QStringLiteral("kqdb import-mdb %1 NEW.sqlite").arg(quoted)))
        << message.toStdString();
}

TEST(ProviderConnection, ProviderNameAndConnectionStringForms)
{
    DevDatabase db;
    EXPECT_EQ(openFails(QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=%1").arg(db.path())),
              QStringLiteral("Provider cannot be found. It may not be properly installed."));
    EXPECT_EQ(openFails(QStringLiteral("Data Source=%1").arg(db.path())),
              QStringLiteral("Provider cannot be found. It may not be properly installed."));

    // A path holding ';' and '"' works when quoted, with the inner quote doubled.
    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("a;b\"c"));
    ASSERT_TRUE(QDir().mkpath(odd));
    const QString path = odd + QStringLiteral("/kq.mdb");
    ASSERT_TRUE(QFile::copy(db.path(), path));
    QString quoted = path;
    quoted.replace(u'"', QStringLiteral("\"\""));

    AdoConnection connection;
    connection.setConnectionString(QStringLiteral(" provider = microsoft.jet.oledb.4.0 ; Data Source=\"%1\" ;"
                                                  "Mode=Read|Write;Persist Security Info=False;User ID=Admin")
                                       .arg(quoted));
    EXPECT_EQ(connection.dataSource(), path);
    AdoQuery query(QStringLiteral("YgQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    EXPECT_NO_THROW(query.open());
    EXPECT_TRUE(connection.connected());

    // Closing the connection closes the queries bound to it.
    connection.setConnected(false);
    EXPECT_FALSE(query.isOpen());

    // Unquoted, the ';' splits the path and the remainder is not a key=value pair.
    EXPECT_FALSE(openFails(jetConnectionString(path)).isEmpty());
}

TEST(ProviderConnection, PathsTheTerminalLeavesUnquotedComeBackUnchanged)
{
    // The terminal quotes only paths holding ';' or '"' or starting or ending with a blank or
    // control character; every other path must reach the file system as it was given.
    const QString dataSource = QStringLiteral("Data Source");
    const QString nbsp = QString(QChar(0x00A0));
    const QString ideographic = QString(QChar(0x3000));
    const QStringList paths = {QStringLiteral("'att'/kq.mdb"), nbsp + QStringLiteral("att/kq.mdb"),
                               ideographic + QStringLiteral("att/kq.mdb") + ideographic,
                               QStringLiteral(" att;'x'/kq.mdb"), QStringLiteral("'/kq.mdb")};
    for (const QString& path : paths)
        EXPECT_EQ(ConnectionString(CommFunc::MakeJetConnStr(path)).value(dataSource), path)
            << path.toStdString();

    // Only double quotes quote; blanks around keys and bare values go, other spaces stay.
    const ConnectionString text(QStringLiteral("\t Data Source\n= 'a;b= \"c;d\" ;") + nbsp +
                                QStringLiteral("Mode=") + nbsp + QStringLiteral("x "));
    EXPECT_EQ(text.value(dataSource), QStringLiteral("'a"));
    EXPECT_EQ(text.value(QStringLiteral("b")), QStringLiteral("c;d"));
    EXPECT_EQ(text.value(QStringLiteral("Mode")), QString());
    EXPECT_EQ(text.value(nbsp + QStringLiteral("Mode")), nbsp + QStringLiteral("x"));

    // Relative paths starting with such a folder open the file inside it.
    DevDatabase db;
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (const QString& folder : {QStringLiteral("'att"), nbsp + QStringLiteral("att")}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(db.path(), folder + QStringLiteral("/kq.mdb")));
        AdoConnection connection;
        connection.setConnectionString(CommFunc::MakeJetConnStr(folder + QStringLiteral("/kq.mdb")));
        AdoQuery query(QStringLiteral("YgQry"));
        query.setConnection(&connection);
        query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
        EXPECT_NO_THROW(query.open()) << folder.toStdString();
    }
    QDir::setCurrent(previous);
}

TEST(ProviderConnection, ReadOnlyOpenRefusesWritesWithTheDatabaseText)
{
    DevDatabase db;
    db.exec(QStringLiteral("INSERT INTO employ VALUES ('0101', 'A', '01')"));
    const QByteArray before = fileBytes(db.path());

    AdoConnection connection;
    connection.setConnectionString(
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read").arg(db.path()));
    AdoQuery query(QStringLiteral("RecordQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("INSERT INTO employ VALUES ('0102', 'B', '01')"));
    try {
        query.execSql();
        FAIL() << "write on a read-only connection succeeded";
    } catch (const SqliteError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("readonly"))) << e.message().toStdString();
        EXPECT_EQ(e.primaryResultCode(), SQLITE_READONLY);
        // The error log names the kind the terminal tells apart.
        EXPECT_EQ(e.typeName(), QStringLiteral("EOleException"));
    }
    EXPECT_TRUE(connection.isReadOnly());
    EXPECT_EQ(fileBytes(db.path()), before);
}

// A commit the terminal acknowledges must survive a power cut: with the write-ahead log,
// every commit syncs the log before it returns; a file still in the rollback journal mode
// (on a network share) is kept with EXTRA, which also syncs the folder once the journal is
// deleted.
TEST(ProviderConnection, CommitsAreSyncedBeforeTheyReturn)
{
    DevDatabase db;
    AdoConnection connection;
    connection.setConnectionString(db.connectionString());
    AdoQuery query(QStringLiteral("RecordQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("PRAGMA synchronous"));
    query.open();
    EXPECT_EQ(query.valueAsString(0, 0), QStringLiteral("3")); // EXTRA
    query.close();
    query.sqlClear();
    query.sqlAdd(QStringLiteral("PRAGMA journal_mode"));
    query.open();
    EXPECT_EQ(query.valueAsString(0, 0), QStringLiteral("wal"));
}

TEST(ProviderConnection, SymbolicLinkLoopIsNotAMissingFile)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.mdb"));
    const QString b = dir.filePath(QStringLiteral("kq.mdb"));
    ASSERT_TRUE(QFile::link(b, a));
    ASSERT_TRUE(QFile::link(a, b));
    const QString message = openFails(jetConnectionString(b));
    EXPECT_FALSE(message.contains(QStringLiteral("Could not find"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("symbolic links"))) << message.toStdString();
    EXPECT_TRUE(message.contains(b));

    const QString dangling = dir.filePath(QStringLiteral("gone.mdb"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere.mdb")), dangling));
    EXPECT_TRUE(openFails(jetConnectionString(dangling)).startsWith(QStringLiteral("Could not find file")));
}

TEST(ProviderConnection, NoConnectionIsADataAccessError)
{
    AdoQuery query(QStringLiteral("YgQry"));
    query.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    EXPECT_THROW(query.open(), QueryStateError);
}
