#pragma once

#include <QString>
#include <exception>
#include <string>

// The general error kind every failure of the terminal is reported as. Derived kinds
// name themselves, so the error log can write out the most derived type name and test
// membership with dynamic_cast.
class Exception : public std::exception
{
public:
    // What went wrong, in terms a user can be told whatever room raised it. Set where the
    // failure is raised, by the code that knows its cause; the words a user reads are
    // chosen from it, never from the message, which is the log's and may be reworded.
    enum class Trouble
    {
        Unknown,
        // The database is held by another writer.
        Locked,
        DiskFull,
        // No permission to write the database, its folder or its journal.
        NoWriteRight,
        DiskIo,
        // Damaged, or no database at all.
        Damaged,
        CannotOpen,
        // Nothing under the database's path (deleted or moved).
        MissingFile,
        // The path names an Access file, which has to be brought over first.
        AccessFile,
        // The path names a folder.
        Folder,
        // The database lacks a table the statement names.
        MissingTable,
        // The current employee has no employee number.
        NoNumber,
        // The server refused the statement for a reason that sending it again will not change.
        Refused,
        // The server could not be reached or stopped answering.
        Unreachable,
        // A folder on the way to the database may be changed by others than its owner and
        // root, or a link on the way could have been made by them.
        UntrustedPath,
        // A journal or log beside the database that this user cannot use: a link, or
        // another user's file this user may not write.
        ForeignLogFile
    };

    explicit Exception(QString message, Trouble trouble = Trouble::Unknown)
        : m_message(std::move(message)), m_utf8(m_message.toStdString()), m_trouble(trouble)
    {
    }
    ~Exception() override = default;

    const QString& message() const { return m_message; }
    virtual QString typeName() const { return QStringLiteral("Exception"); }
    const char* what() const noexcept override { return m_utf8.c_str(); }
    Trouble trouble() const { return m_trouble; }

private:
    QString m_message;
    std::string m_utf8;
    Trouble m_trouble;
};
