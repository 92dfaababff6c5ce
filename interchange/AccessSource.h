#pragma once

#include "interchange/AccessFrameReader.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

class AccessReaderProcess;

// A read-only view of the tables employ and sgdjb of an Access (Jet 4) attendance
// database. The file is read by libmdb in a process of its own, so that a damaged file
// that makes the library crash or loop is reported as damaged instead of taking this
// process down; the file is opened for reading only and never written.
//
// The reading process is forked at construction (and again for a read out of order), with
// nothing of this process's files left open in it; construct the source before starting
// threads of your own.
//
// Every refusal is an AccessFileError whose message names the file and says why: not an
// Access file, an Access version other than Jet 4 (and how to get a Jet 4 copy),
// encrypted, damaged, a table or a column missing or of the wrong type.
class AccessSource
{
public:
    struct Employee
    {
        qint64 row; // 1-based, in the table's order
        std::optional<QString> num, name, deptNo;
    };
    struct Attendance
    {
        qint64 row; // 1-based, in the table's order
        std::optional<QString> num, name;
        std::optional<double> d, t, opdate; // raw date serials (AccessDateSerial)
    };

    // A damaged file can send the library round a loop; reading stops as damaged when the
    // reading process sends nothing for this long.
    static constexpr std::chrono::milliseconds kDefaultSilenceLimit{30000};

    // Damage can also send the library after ever more memory; the reading process may take
    // this much beyond what it starts with (reading kq-big.mdb takes a few MB), so that such
    // a file is reported damaged long before an operator's PC runs short.
    static constexpr std::size_t kDefaultMemoryBudget = std::size_t(256) << 20;

    // Checks the file, both tables and their columns.
    explicit AccessSource(const QString& path, std::chrono::milliseconds silenceLimit = kDefaultSilenceLimit,
                          std::size_t memoryBudget = kDefaultMemoryBudget);
    ~AccessSource();
    AccessSource(const AccessSource&) = delete;
    AccessSource& operator=(const AccessSource&) = delete;

    const QString& path() const { return m_path; }
    // The row counts the table definitions declare, for progress bars.
    qint64 employeeCount() const { return m_employeeCount; }
    qint64 attendanceCount() const { return m_attendanceCount; }

    // The rows in the table's order: page by page, a row moved by a later edit where its
    // old place is, deleted rows left out. Damage found while reading throws
    // AccessFileError; rows handed to the sink before it are not taken back. Reading the
    // employees first and the attendance next reads the file once; any other order reads
    // it again.
    void readEmployees(const std::function<void(const Employee&)>& sink);
    void readAttendance(const std::function<void(const Attendance&)>& sink);

private:
    enum class Stage
    {
        Counted,
        EmployeesRead,
        Finished
    };

    void start();
    void stop();
    AccessFrameReader::Frame nextFrame();
    // Hands the rows of one table's frames to decodeRow, counting them in row, up to the
    // table's end frame, whose count they must match.
    template <typename DecodeRow>
    void readTable(AccessFrame rowsKind, AccessFrame endKind, const char* table, qint64& row,
                   DecodeRow decodeRow);
    void expectEnd(qint64 rows, qint64 announced, const char* table);
    [[noreturn]] void damaged(const QString& detail);
    [[noreturn]] void refused(const QString& reason);

    QString m_path;
    std::chrono::milliseconds m_silenceLimit;
    std::size_t m_memoryBudget;
    qint64 m_employeeCount = 0;
    qint64 m_attendanceCount = 0;
    Stage m_stage = Stage::Finished;
    std::unique_ptr<AccessReaderProcess> m_process;
    std::unique_ptr<AccessFrameReader> m_frames;
};
