#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The development database: a SQLite file with the tables the terminal uses (employ, sgdjb
// and card) and the index its duplicate test runs on. Used by the kqdb tool, tests and benchmarks.
class DevSchema
{
public:
    struct Employee
    {
        QString num;
        QString name;
        QString deptNo;
    };

    // The statements that create the tables and the index, in order.
    static QStringList ddl();
    // The same for a PostgreSQL server, in its own types (D date, T time(0), opdate date),
    // followed by the terminals' login role and its grants.
    static QStringList serverDdl();
    // The card table alone, for a file and for a server (with the terminals' right to read
    // it), to add it to a database made before cards existed.
    static QStringList cardDdl();
    static QStringList serverCardDdl();
    // Characters a card number may have: an EM4100 fob reads as ten digits, a barcode
    // badge as whatever the site printed.
    static constexpr int kCardWidth = 32;
    // The index the duplicate test runs on, on a server.
    static QString duplicateIndexStatement();
    // The role terminals log in with on a server: it may read employ, delete from employ,
    // read and insert sgdjb, and read card, nothing else.
    static const QString kTerminalRole;

    // Creates a new database file with the schema and the given employees. Never touches
    // an existing file: false with a message when the path exists or anything fails, in
    // which case no file is left behind.
    // progress, when given, is called with the number of employees written so far.
    static bool createDatabase(const QString& path, const QList<Employee>& employees,
                               QString* error = nullptr, const std::function<void(qint64)>& progress = {});

    // Creates the tables, the index and the terminals' role in the server database the
    // libpq text names, with the given employees, in one transaction: false with the
    // server's message when a table exists already or anything fails, and then nothing is
    // left behind. The role is created only when it does not exist.
    static bool createServerDatabase(const QString& conninfo, const QList<Employee>& employees,
                                     QString* error = nullptr);

    // A few dozen employees with Chinese names in four departments, numbered
    // department + two digits ("0101").
    static QList<Employee> demoEmployees();
    // count employees with generated names, numbered from 1 and zero-padded to at least
    // four digits, fifty to a department ("01", "02", ...).
    static QList<Employee> generatedEmployees(int count);
};
