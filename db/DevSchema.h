#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The development database: a SQLite file with the two tables the terminal uses and the
// index its duplicate test runs on. Used by the kqdb tool, tests and benchmarks.
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

    // Creates a new database file with the schema and the given employees. Never touches
    // an existing file: false with a message when the path exists or anything fails, in
    // which case no file is left behind.
    // progress, when given, is called with the number of employees written so far.
    static bool createDatabase(const QString& path, const QList<Employee>& employees,
                               QString* error = nullptr, const std::function<void(qint64)>& progress = {});

    // A few dozen employees with Chinese names in four departments, numbered
    // department + two digits ("0101").
    static QList<Employee> demoEmployees();
    // count employees with generated names, numbered from 1 and zero-padded to at least
    // four digits, fifty to a department ("01", "02", ...).
    static QList<Employee> generatedEmployees(int count);
};
