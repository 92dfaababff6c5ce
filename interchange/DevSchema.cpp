#include "interchange/DevSchema.h"

#include "platform/DatabaseError.h"
#include "query/BackendFactory.h"
#include "query/Statements.h"

namespace {

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

QStringList DevSchema::ddl()
{
    QStringList statements{
        QStringLiteral(
            "CREATE TABLE employ (num VARCHAR(10) NOT NULL, name VARCHAR(20), dept_no VARCHAR(10));"),
        QStringLiteral("CREATE TABLE sgdjb (num VARCHAR(10), name VARCHAR(20), D DATETIME, T DATETIME, "
                       "opdate DATETIME);"),
        QStringLiteral("CREATE INDEX sgdjb_num_instant ON sgdjb (num, (D+T));"),
        // A swipe by number (kqdb swipe) reads one employee, not the list.
        QStringLiteral("CREATE INDEX employ_num ON employ (num);"),
    };
    statements += cardDdl();
    return statements;
}

QStringList DevSchema::cardDdl()
{
    // The card number is unique: one card, one holder.
    return {QStringLiteral("CREATE TABLE card (card VARCHAR(%1) NOT NULL, num VARCHAR(10) NOT NULL);")
                .arg(kCardWidth),
            QStringLiteral("CREATE UNIQUE INDEX card_card ON card (card);")};
}

QStringList DevSchema::serverCardDdl()
{
    return {
        QStringLiteral("CREATE TABLE card (card varchar(%1) NOT NULL PRIMARY KEY, num varchar(10) NOT NULL)")
            .arg(kCardWidth),
        // Terminals read the cards with the list; only an administrator changes them.
        QStringLiteral("DO $$BEGIN IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN "
                       "GRANT SELECT ON card TO %1; END IF; END$$")
            .arg(kTerminalRole),
    };
}

const QString DevSchema::kTerminalRole = QStringLiteral("tavelo_terminal");

QString DevSchema::duplicateIndexStatement()
{
    return Statements::kDuplicateTestIndex;
}

QStringList DevSchema::serverDdl()
{
    QStringList statements{
        QStringLiteral(
            "CREATE TABLE employ (num varchar(10) NOT NULL, name varchar(20), dept_no varchar(10))"),
        QStringLiteral(
            "CREATE TABLE sgdjb (num varchar(10), name varchar(20), d date, t time(0), opdate date)"),
        duplicateIndexStatement(),
        QStringLiteral("CREATE INDEX employ_num ON employ (num)"),
        QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN "
                       "CREATE ROLE %1 LOGIN; END IF; END$$")
            .arg(kTerminalRole),
        QStringLiteral("GRANT SELECT, DELETE ON employ TO %1").arg(kTerminalRole),
        QStringLiteral("GRANT SELECT, INSERT ON sgdjb TO %1").arg(kTerminalRole),
    };
    statements += serverCardDdl();
    return statements;
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
    std::vector<std::vector<std::optional<QByteArray>>> parameterSets;
    for (qsizetype from = 0; from < employees.size(); from += kRowsPerStatement) {
        const qsizetype to = qMin(from + kRowsPerStatement, employees.size());
        parameterSets.push_back({arrayLiteral(employees, from, to, &Employee::num),
                                 arrayLiteral(employees, from, to, &Employee::name),
                                 arrayLiteral(employees, from, to, &Employee::deptNo)});
    }
    try {
        BackendFactory::createOnServer(conninfo, serverDdl(),
                                       "INSERT INTO employ (num, name, dept_no) SELECT * FROM "
                                       "unnest($1::varchar[], $2::varchar[], $3::varchar[])",
                                       parameterSets);
        return true;
    } catch (const DatabaseError& e) {
        // The connection closes with the transaction open: the server rolls it back.
        return fail(error, e.message());
    }
}

bool DevSchema::createDatabase(const QString& path, const QList<Employee>& employees, QString* error,
                               const std::function<void(qint64)>& progress)
{
    return BackendFactory::createFile(
        path, ddl(), "INSERT INTO employ (num, name, dept_no) VALUES (?, ?, ?)", employees.size(),
        [&employees](qsizetype i) {
            const Employee& e = employees[i];
            return QList<QByteArray>{e.num.toUtf8(), e.name.toUtf8(), e.deptNo.toUtf8()};
        },
        progress, error);
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
