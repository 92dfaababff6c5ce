#include "query/ServerArray.h"

#include <QtEndian>

namespace {

// The element types' fixed object ids in the server's catalog.
constexpr qint32 kTextOid = 25;
constexpr qint32 kTimestampOid = 1114;
constexpr qint32 kDateOid = 1082;
// One dimension: its number of dimensions, a flag for NULLs, the element type, then the
// dimension's length and first index.
constexpr qsizetype kHeader = 5 * 4;
// The server counts timestamps in microseconds from 2000-01-01 00:00.
constexpr qint64 kEpochJulianDay = 2451545;
constexpr qint64 kMicrosPerDay = 86400LL * 1000 * 1000;

void putInt32(char* at, qint32 value)
{
    qToBigEndian(value, at);
}

} // namespace

ServerArray::ServerArray(Type type, qsizetype capacity) : m_type(type)
{
    m_data.reserve(kHeader + capacity * (type == Type::Text ? 16 : type == Type::Date ? 8 : 12));
    m_data.resize(kHeader);
}

void ServerArray::appendInt32(qint32 value)
{
    const qsizetype at = m_data.size();
    m_data.resize(at + 4);
    putInt32(m_data.data() + at, value);
}

void ServerArray::add(QStringView text)
{
    Q_ASSERT(m_type == Type::Text);
    // Written straight into the array, its length put in front once it is known.
    const qsizetype at = m_data.size();
    m_data.resize(at + 4 + text.size() * 3);
    char* const start = m_data.data() + at + 4;
    char* const end = m_encoder.appendToBuffer(start, text);
    putInt32(m_data.data() + at, qint32(end - start));
    m_data.resize(at + 4 + (end - start));
    ++m_count;
}

void ServerArray::add(QByteArrayView utf8)
{
    Q_ASSERT(m_type == Type::Text);
    appendInt32(qint32(utf8.size()));
    m_data.append(utf8);
    ++m_count;
}

void ServerArray::add(const QDate& date, const QTime& time)
{
    Q_ASSERT(m_type == Type::Timestamp);
    const qint64 micros =
        (date.toJulianDay() - kEpochJulianDay) * kMicrosPerDay + qint64(time.msecsSinceStartOfDay()) * 1000;
    appendInt32(8);
    const qsizetype at = m_data.size();
    m_data.resize(at + 8);
    qToBigEndian(micros, m_data.data() + at);
    ++m_count;
}

void ServerArray::add(const QDate& date)
{
    Q_ASSERT(m_type == Type::Date);
    // Days from 2000-01-01.
    appendInt32(4);
    appendInt32(qint32(date.toJulianDay() - kEpochJulianDay));
    ++m_count;
}

QByteArray ServerArray::bytes()
{
    const qint32 elementType = m_type == Type::Text   ? kTextOid
                               : m_type == Type::Date ? kDateOid
                                                      : kTimestampOid;
    if (m_count == 0) {
        // No dimension at all: the empty array.
        QByteArray empty(12, '\0');
        putInt32(empty.data() + 8, elementType);
        return empty;
    }
    char* const header = m_data.data();
    putInt32(header, 1);
    putInt32(header + 4, 0);
    putInt32(header + 8, elementType);
    putInt32(header + 12, qint32(m_count));
    putInt32(header + 16, 1);
    return m_data;
}
