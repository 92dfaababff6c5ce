#pragma once

#include <QString>

// Table, column and statement texts the terminal sends. The statements are kept byte for
// byte as the attendance software's peers expect them, trailing blanks included. The
// duplicate test is the swipe rule's own (attendance/SwipeWindow).
namespace Statements {

inline const QString kEmployTable = QStringLiteral("employ");
inline const QString kRecordTable = QStringLiteral("sgdjb");

inline const QString kNum = QStringLiteral("num");
inline const QString kName = QStringLiteral("name");
inline const QString kDeptNo = QStringLiteral("dept_no");
inline const QString kD = QStringLiteral("D");
inline const QString kT = QStringLiteral("T");

inline const QString kRecordInsert =
    QStringLiteral("INSERT INTO sgdjb (num, name, D, T, opdate) VALUES (:num, :name, :d, :t, :opdate)  ");
// The index that keeps the duplicate test from reading the whole table: made with a new
// server database, and named to its owner when a server lacks it.
inline const QString kDuplicateTestIndex = QStringLiteral("CREATE INDEX sgdjb_num_instant ON sgdjb (num, (d + t))");
inline const QString kFixedOpDate = QStringLiteral("1999-01-01");

// The window's stored default ordering; replaced before the employee query ever opens.
inline const QString kDefaultEmployQuery = QStringLiteral("select * from employ order by dept_no, num");

} // namespace Statements
