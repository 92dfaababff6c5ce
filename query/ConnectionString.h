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

    // The connection string for a database file. The Data Source value is quoted only
    // when the path could not stand bare in it (";", '"', blanks at either end).
    static QString forFile(const QString& path);
    // The connection string for a PostgreSQL server: the libpq connection text (a URI or
    // keyword/value pairs) as the Data Source, always quoted, since it holds '=' and blanks.
    static QString forServer(const QString& conninfo);

    // Provider names a connection string may give, named for the back end each selects: the
    // Jet provider's name (which the connection strings of the attendance software carry)
    // opens a database file with the SQLite back end; ours opens a PostgreSQL server.
    static inline const QString kSqliteFileProvider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    static inline const QString kPostgresProvider = QStringLiteral("Tavelo.PostgreSQL");

private:
    QList<QPair<QString, QString>> m_pairs;
};
