#pragma once

#include <QList>
#include <QPair>
#include <QString>

// An OLE DB style connection string: "key=value" pairs separated by ';'. Keys are matched
// without regard to case; a value may be double-quoted so that it can hold ';', with the
// quote character doubled inside. Blanks and control characters around keys and bare values
// are dropped, any other character is kept.
class ConnectionString
{
public:
    // Throws DatabaseError when a non-blank part has no '=' or a quote is not closed.
    explicit ConnectionString(const QString& text);

    // The value of the last occurrence of the key, or an empty text.
    QString value(const QString& key) const;
    // The Provider names the database server rather than a database file.
    bool namesServer() const;

private:
    QList<QPair<QString, QString>> m_pairs;
};
