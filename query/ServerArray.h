#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringEncoder>
#include <QTime>

// A one-dimensional array parameter in the server's binary form, built value by value.
// Read by the server without parsing and written without quoting or formatting, unlike
// its text form ("{...}"): what thousands of values in one statement cost on either side
// then lies in the values alone. Pass its position in ServerFeatures::Statement::binary.
// No element is NULL.
class ServerArray
{
public:
    enum class Type
    {
        Text,
        // A date and time of day without a zone (timestamp), to the microsecond.
        Timestamp,
        Date
    };

    ServerArray(Type type, qsizetype capacity);

    void add(QStringView text);
    void add(QByteArrayView utf8);
    void add(const QDate& date, const QTime& time);
    void add(const QDate& date);

    qsizetype count() const { return m_count; }
    // The array as the server reads it (more values may be added after).
    QByteArray bytes();

private:
    void appendInt32(qint32 value);

    Type m_type;
    QStringEncoder m_encoder{QStringEncoder::Utf8};
    qsizetype m_count = 0;
    // The elements, each its length and its bytes, behind room for the header.
    QByteArray m_data;
};
