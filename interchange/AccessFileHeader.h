#pragma once

#include <QByteArray>
#include <QString>

// The first page of an Access file, checked before any library reads the file so that a
// refusal says precisely what is wrong: not an Access file, an Access version other than
// Jet 4 (Access 2000 and 2002-2003), a length that is no whole number of pages, or an
// encrypted database.
class AccessFileHeader
{
public:
    static constexpr qint64 kJet4PageSize = 4096;

    // Reads the file's first page and length; throws AccessFileError naming the path.
    static void vet(const QString& path);
    // The reason a file with these first bytes and this length cannot be read, or an
    // empty text when it looks like a Jet 4 database.
    static QString refusal(const QByteArray& firstPage, qint64 fileLength);
};
