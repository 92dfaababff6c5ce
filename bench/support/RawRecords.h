#pragma once

#include "interchange/DevSchema.h"

#include <QDate>
#include <QList>
#include <QString>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

// Set-up for the file benchmarks, written with bare SQLite calls so that it is not what
// they measure.
namespace RawRecords {

inline void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::abort();
    }
}

// Which employee swiped and when (whole wall-clock seconds since 1970-01-01).
struct Swipe
{
    qsizetype employee;
    qint64 instant;
};

// Appends count swipes to sgdjb of the database file at path, the i-th as swipe(i) says,
// with opdate 1999-01-01 as the terminal writes it; `finish` ends the transaction.
inline void fill(const QString& path, const QList<DevSchema::Employee>& employees, int count,
                 const std::function<Swipe(int)>& swipe, const char* finish = "COMMIT")
{
    sqlite3* db = nullptr;
    check(sqlite3_open(path.toUtf8().constData(), &db), db, "open");
    check(sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr), db, "begin");
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO sgdjb (num, name, D, T, opdate) VALUES (?, ?, ?, ?, ?)", -1,
                             &insert, nullptr),
          db, "prepare");
    std::vector<std::string> nums, names;
    for (const DevSchema::Employee& e : employees) {
        nums.push_back(e.num.toStdString());
        names.push_back(e.name.toStdString());
    }
    const qint64 opdate = QDate(1970, 1, 1).daysTo(QDate(1999, 1, 1)) * 86400;
    for (int i = 0; i < count; ++i) {
        const Swipe s = swipe(i);
        const auto e = std::size_t(s.employee);
        sqlite3_bind_text(insert, 1, nums[e].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, names[e].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, s.instant - s.instant % 86400);
        sqlite3_bind_int64(insert, 4, s.instant % 86400);
        sqlite3_bind_int64(insert, 5, opdate);
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, finish, nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

} // namespace RawRecords
