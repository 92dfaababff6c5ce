#include "interchange/AccessSource.h"

#include "interchange/AccessFileHeader.h"
#include "interchange/AccessReaderProcess.h"
#include "interchange/AccessText.h"
#include "platform/AccessFileError.h"

#include <cstring>
#include <stdexcept>

namespace {

// Reads the fields of one row frame, each check a bounds check against the frame.
class RowCursor
{
public:
    explicit RowCursor(QByteArrayView body) : m_p(body.data()), m_end(body.data() + body.size()) {}

    bool count(std::uint32_t& n) { return take(&n, 4); }
    bool atEnd() const { return m_p == m_end; }

    // false: the frame is cut short; `valid` false: the bytes are no Jet 4 text.
    bool text(std::optional<QString>& out, bool& valid)
    {
        std::uint16_t length = 0;
        if (!take(&length, 2))
            return false;
        valid = true;
        if (length == kAccessNullText) {
            out.reset();
            return true;
        }
        if (m_end - m_p < length)
            return false;
        out = AccessText::decode(m_p, length);
        valid = out.has_value();
        m_p += length;
        return true;
    }

    bool serial(std::optional<double>& out)
    {
        std::uint8_t present = 0;
        if (!take(&present, 1) || present > 1)
            return false;
        if (present == 0) {
            out.reset();
            return true;
        }
        double value = 0;
        if (!take(&value, 8))
            return false;
        out = value;
        return true;
    }

private:
    bool take(void* into, qsizetype size)
    {
        if (m_end - m_p < size)
            return false;
        std::memcpy(into, m_p, std::size_t(size));
        m_p += size;
        return true;
    }

    const char* m_p;
    const char* m_end;
};

qint64 int64At(QByteArrayView body, qsizetype offset)
{
    qint64 value = 0;
    if (body.size() >= offset + 8)
        std::memcpy(&value, body.data() + offset, 8);
    return value;
}

const QString kGarbled = QStringLiteral("the reader sent garbled data");

} // namespace

AccessSource::AccessSource(const QString& path, std::chrono::milliseconds silenceLimit,
                           std::size_t memoryBudget)
    : m_path(path), m_silenceLimit(silenceLimit), m_memoryBudget(memoryBudget)
{
    AccessFileHeader::vet(path);
    start();
}

AccessSource::~AccessSource() = default;

void AccessSource::start()
{
    stop();
    m_process = std::make_unique<AccessReaderProcess>(m_path, m_silenceLimit, m_memoryBudget);
    AccessReaderProcess* process = m_process.get();
    m_frames = std::make_unique<AccessFrameReader>(
        [process](char* buffer, qsizetype size) { return process->read(buffer, size); });
    const AccessFrameReader::Frame frame = nextFrame();
    if (frame.kind != AccessFrame::Counts || frame.body.size() != 16)
        damaged(kGarbled);
    m_employeeCount = int64At(frame.body, 0);
    m_attendanceCount = int64At(frame.body, 8);
    m_stage = Stage::Counted;
}

void AccessSource::stop()
{
    m_frames.reset();
    m_process.reset();
    m_stage = Stage::Finished;
}

AccessFrameReader::Frame AccessSource::nextFrame()
{
    std::optional<AccessFrameReader::Frame> frame;
    try {
        frame = m_frames->next();
    } catch (const std::runtime_error& e) {
        const QString ending = m_process->finish();
        damaged(ending.isEmpty() ? QString::fromUtf8(e.what()) : ending);
    }
    if (!frame) {
        const QString ending = m_process->finish();
        damaged(ending.isEmpty() ? QStringLiteral("the reader stopped before the end") : ending);
    }
    if (frame->kind == AccessFrame::Refusal) {
        const QString reason = QString::fromUtf8(frame->body);
        m_process->finish();
        refused(reason);
    }
    if (frame->kind == AccessFrame::Damage) {
        const QString detail = QString::fromUtf8(frame->body);
        m_process->finish();
        damaged(detail);
    }
    return *frame;
}

void AccessSource::damaged(const QString& detail)
{
    stop();
    throw AccessFileError(QStringLiteral("Cannot read Access file '%1': it is damaged: %2. Repair a copy in "
                                          "Access (Tools > Database Utilities > Compact and Repair Database) "
                                          "and import the repaired copy.")
                               .arg(m_path, detail));
}

void AccessSource::refused(const QString& reason)
{
    stop();
    throw AccessFileError(QStringLiteral("Cannot read Access file '%1': %2.").arg(m_path, reason));
}

void AccessSource::expectEnd(qint64 rows, qint64 announced, const char* table)
{
    if (rows != announced)
        damaged(QStringLiteral("%1 rows of table '%2' were sent, %3 arrived")
                    .arg(announced)
                    .arg(QLatin1StringView(table))
                    .arg(rows));
}

template <typename DecodeRow>
void AccessSource::readTable(AccessFrame rowsKind, AccessFrame endKind, const char* table, qint64& row,
                             DecodeRow decodeRow)
{
    for (;;) {
        const AccessFrameReader::Frame frame = nextFrame();
        if (frame.kind == endKind) {
            expectEnd(row, int64At(frame.body, 0), table);
            return;
        }
        if (frame.kind != rowsKind)
            damaged(kGarbled);
        RowCursor cursor(frame.body);
        std::uint32_t rows = 0;
        if (!cursor.count(rows))
            damaged(kGarbled);
        for (std::uint32_t i = 0; i < rows; ++i) {
            ++row;
            decodeRow(cursor);
        }
        if (!cursor.atEnd())
            damaged(kGarbled);
    }
}

void AccessSource::readEmployees(const std::function<void(const Employee&)>& sink)
{
    if (m_stage != Stage::Counted)
        start();
    // A sink that throws leaves the reader in the middle of the table: it is not resumed.
    m_stage = Stage::Finished;
    Employee employee{0, {}, {}, {}};
    readTable(
        AccessFrame::EmployeeRows, AccessFrame::EmployeesEnd, "employ", employee.row, [&](RowCursor& cursor) {
            bool numValid = true, nameValid = true, deptValid = true;
            if (!cursor.text(employee.num, numValid) || !cursor.text(employee.name, nameValid) ||
                !cursor.text(employee.deptNo, deptValid))
                damaged(kGarbled);
            if (!numValid || !nameValid || !deptValid)
                damaged(
                    QStringLiteral("row %1 of table 'employ' holds a text that is not valid in column '%2'")
                        .arg(employee.row)
                        .arg(QLatin1StringView(!numValid    ? "num"
                                               : !nameValid ? "name"
                                                            : "dept_no")));
            sink(employee);
        });
    m_stage = Stage::EmployeesRead;
}

void AccessSource::readAttendance(const std::function<void(const Attendance&)>& sink)
{
    if (m_stage == Stage::Finished)
        start();
    if (m_stage == Stage::Counted)
        readEmployees([](const Employee&) {});
    m_stage = Stage::Finished;
    Attendance record{0, {}, {}, {}, {}, {}};
    readTable(
        AccessFrame::AttendanceRows, AccessFrame::AttendanceEnd, "sgdjb", record.row, [&](RowCursor& cursor) {
            bool numValid = true, nameValid = true;
            if (!cursor.text(record.num, numValid) || !cursor.text(record.name, nameValid) ||
                !cursor.serial(record.d) || !cursor.serial(record.t) || !cursor.serial(record.opdate))
                damaged(kGarbled);
            if (!numValid || !nameValid)
                damaged(
                    QStringLiteral("row %1 of table 'sgdjb' holds a text that is not valid in column '%2'")
                        .arg(record.row)
                        .arg(QLatin1StringView(!numValid ? "num" : "name")));
            sink(record);
        });
    if (nextFrame().kind != AccessFrame::End)
        damaged(kGarbled);
    const QString ending = m_process->finish();
    if (!ending.isEmpty())
        damaged(ending);
    stop();
}
