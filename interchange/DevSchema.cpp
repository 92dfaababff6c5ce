#include "interchange/DevSchema.h"

#include "postgres/PgBackend.h"
#include "platform/DatabaseError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <sqlite3.h>

namespace {

// Closes the handle and, unless released, removes the file it was creating.
class NewFileGuard
{
public:
    explicit NewFileGuard(QString path) : m_path(std::move(path)) {}
    ~NewFileGuard()
    {
        if (m_db)
            sqlite3_close(m_db);
        if (m_keep)
            return;
        // The journal too: a failed write (a full disk) can leave it behind, and a journal
        // without its database would be taken for the hot journal of the next file of
        // that name.
        QFile::remove(m_path);
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(suffix));
    }
    sqlite3** handle() { return &m_db; }
    sqlite3* db() const { return m_db; }
    void keep() { m_keep = true; }

private:
    QString m_path;
    sqlite3* m_db = nullptr;
    bool m_keep = false;
};

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

// SQLite's message, with the system's reason when a system call failed: "disk I/O
// error" alone does not say that the disk is full.
QString sqliteError(sqlite3* db, const char* message = nullptr)
{
    QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    if (const int code = sqlite3_system_errno(db); code != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(code)));
    return text;
}

bool exec(sqlite3* db, const QString& sql, QString* error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    const QString text = sqliteError(db, message);
    sqlite3_free(message);
    return fail(error, text);
}

bool insertEmployees(sqlite3* db, const QList<DevSchema::Employee>& employees, QString* error,
                     const std::function<void(qint64)>& progress)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO employ (num, name, dept_no) VALUES (?, ?, ?)", -1, &stmt,
                           nullptr) != SQLITE_OK)
        return fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    bool ok = true;
    qint64 written = 0;
    for (const DevSchema::Employee& e : employees) {
        const QByteArray fields[] = {e.num.toUtf8(), e.name.toUtf8(), e.deptNo.toUtf8()};
        for (int i = 0; i < 3; ++i)
            sqlite3_bind_text(stmt, i + 1, fields[i].constData(), int(fields[i].size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            ok = fail(error, sqliteError(db));
            break;
        }
        sqlite3_reset(stmt);
        if (progress)
            progress(++written);
    }
    sqlite3_finalize(stmt);
    return ok;
}

} // namespace

QStringList DevSchema::ddl()
{
    return {
        QStringLiteral(
            "CREATE TABLE employ (num VARCHAR(10) NOT NULL, name VARCHAR(20), dept_no VARCHAR(10));"),
        QStringLiteral("CREATE TABLE sgdjb (num VARCHAR(10), name VARCHAR(20), D DATETIME, T DATETIME, "
                       "opdate DATETIME);"),
        QStringLiteral("CREATE INDEX sgdjb_num_instant ON sgdjb (num, (D+T));"),
    };
}

const QString DevSchema::kTerminalRole = QStringLiteral("tavelo_terminal");

QString DevSchema::duplicateIndexStatement()
{
    return QStringLiteral("CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))");
}

QStringList DevSchema::serverDdl()
{
    return {
        QStringLiteral(
            "CREATE TABLE employ (num varchar(10) NOT NULL, name varchar(20), dept_no varchar(10))"),
        QStringLiteral(
            "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date)"),
        duplicateIndexStatement(),
        QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN "
                       "CREATE ROLE %1 LOGIN; END IF; END$$")
            .arg(kTerminalRole),
        QStringLiteral("GRANT SELECT, DELETE ON employ TO %1").arg(kTerminalRole),
        QStringLiteral("GRANT SELECT, INSERT ON sgdjb TO %1").arg(kTerminalRole),
    };
}

namespace {

// An array literal of texts, for inserting many rows in one statement.
QByteArray arrayLiteral(const QList<DevSchema::Employee>& employees, qsizetype from, qsizetype to,
                        QString DevSchema::Employee::*field)
{
    QByteArray out = "{";
    for (qsizetype i = from; i < to; ++i) {
        if (i > from)
            out += ',';
        QByteArray value = (employees[i].*field).toUtf8();
        value.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + value + '"';
    }
    return out + '}';
}

} // namespace

bool DevSchema::createServerDatabase(const QString& conninfo, const QList<Employee>& employees,
                                     QString* error)
{
    constexpr qsizetype kRowsPerStatement = 10000;
    try {
        PgBackend db(conninfo, 0, false);
        db.execute(QStringLiteral("BEGIN"));
        for (const QString& statement : serverDdl())
            db.execute(statement);
        for (qsizetype from = 0; from < employees.size(); from += kRowsPerStatement) {
            const qsizetype to = qMin(from + kRowsPerStatement, employees.size());
            db.execute("INSERT INTO employ (num, name, dept_no) SELECT * FROM "
                       "unnest($1::varchar[], $2::varchar[], $3::varchar[])",
                       {arrayLiteral(employees, from, to, &Employee::num),
                        arrayLiteral(employees, from, to, &Employee::name),
                        arrayLiteral(employees, from, to, &Employee::deptNo)});
        }
        db.execute(QStringLiteral("COMMIT"));
        return true;
    } catch (const DatabaseError& e) {
        // The connection closes with the transaction open: the server rolls it back.
        return fail(error, e.message());
    }
}

bool DevSchema::createDatabase(const QString& path, const QList<Employee>& employees, QString* error,
                               const std::function<void(qint64)>& progress)
{
    // Claiming the name first makes "never overwrite" hold even against a file that
    // appears between a check and the open.
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return fail(error, file.exists() ? QStringLiteral("%1 already exists").arg(path)
                                             : QStringLiteral("%1: %2").arg(path, file.errorString()));
    }
    NewFileGuard guard(path);
    // The file just made is opened without following a link: in a folder others may write
    // to, one of them could have put a link in its place meanwhile. The folder itself is
    // resolved first, as links on the way to it are the administrator's own.
    const QFileInfo made(path);
    const QString resolved = made.dir().canonicalPath() + u'/' + made.fileName();
    if (sqlite3_open_v2(QFile::encodeName(resolved).constData(), guard.handle(),
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK)
        return fail(error, QString::fromUtf8(guard.db() ? sqlite3_errmsg(guard.db()) : "out of memory"));

    if (!exec(guard.db(), QStringLiteral("BEGIN"), error))
        return false;
    for (const QString& statement : ddl()) {
        if (!exec(guard.db(), statement, error))
            return false;
    }
    if (!insertEmployees(guard.db(), employees, error, progress) ||
        !exec(guard.db(), QStringLiteral("COMMIT"), error))
        return false;
    if (sqlite3_close(guard.db()) != SQLITE_OK)
        return fail(error, sqliteError(guard.db()));
    *guard.handle() = nullptr;
    guard.keep();
    return true;
}

QList<DevSchema::Employee> DevSchema::demoEmployees()
{
    static const char* const kNames[4][9] = {
        {"张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄勇", "周婷"},
        {"吴强", "徐丽", "孙涛", "胡军", "朱艳", "高峰", "林晓燕", "何建国", "郭秀英"},
        {"马超", "罗丹", "梁志明", "宋佳", "郑海涛", "谢芳芳", "韩冰", "唐磊", "冯雪"},
        {"于洪波", "董丽华", "萧然", "程浩", "曹颖", "袁野", "邓小兵", "许倩", "傅明"},
    };
    QList<Employee> employees;
    for (int dept = 0; dept < 4; ++dept) {
        const QString deptNo = QStringLiteral("%1").arg(dept + 1, 2, 10, QChar(u'0'));
        for (int i = 0; i < 9; ++i)
            employees.append({deptNo + QStringLiteral("%1").arg(i + 1, 2, 10, QChar(u'0')),
                              QString::fromUtf8(kNames[dept][i]), deptNo});
    }
    return employees;
}

QList<DevSchema::Employee> DevSchema::generatedEmployees(int count)
{
    static const char* const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                            "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
    static const char* const kGiven[] = {"伟", "芳",   "娜",   "敏",   "静",   "强",   "磊",   "军", "洋",
                                         "勇", "艳",   "杰",   "涛",   "明",   "超",   "秀英", "华", "平",
                                         "刚", "桂英", "建华", "玉兰", "志强", "海燕", "晓东"};
    constexpr int kSurnameCount = int(std::size(kSurnames));
    constexpr int kGivenCount = int(std::size(kGiven));
    const int width = qMax(4, int(QString::number(qMax(count, 1)).size()));

    QList<Employee> employees;
    employees.reserve(qMax(count, 0));
    for (int i = 0; i < count; ++i) {
        QString name = QString::fromUtf8(kSurnames[i % kSurnameCount]) +
                       QString::fromUtf8(kGiven[(i / kSurnameCount) % kGivenCount]);
        // Past every surname/given-name pair, a second given name keeps names varied.
        const int round = i / (kSurnameCount * kGivenCount);
        if (round > 0)
            name += QString::fromUtf8(kGiven[round % kGivenCount]);
        employees.append({QStringLiteral("%1").arg(i + 1, width, 10, QChar(u'0')), name,
                          QStringLiteral("%1").arg(i / 50 % 99 + 1, 2, 10, QChar(u'0'))});
    }
    return employees;
}
