#pragma once

#include "query/DateTimeValue.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QtGlobal>

// A swipe kept in a terminal's outbox until the server has committed it: the row exactly
// as the terminal would have inserted it at the moment of the swipe.
struct StoredSwipe
{
    qint64 id = 0; // outbox order: oldest first
    QString num;
    QString name;
    QDate date;
    QTime time; // whole seconds
    QString opdate;

    // D + T, on the wall clock (marked UTC only so that no zone shifts it).
    QDateTime instant() const { return QDateTime(date, time, Qt::UTC); }
    // D + T in whole seconds, as the database stores them: how the outbox, the record beside
    // it and a batch's runs tell instants apart, without a QDateTime between.
    qint64 instantSeconds() const
    {
        return (DateTimeValue::fromDate(date) + DateTimeValue::fromTime(time)).seconds();
    }
};
