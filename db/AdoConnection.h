#pragma once

#include <QObject>
#include <QString>

#include <memory>

struct sqlite3;
class SqliteDatabase;

// The terminal's one database connection. It takes a Jet-style connection string
// (Provider=Microsoft.Jet.OLEDB.4.0;Data Source=...;Mode=...) and opens the SQLite
// development database it names on demand, when a bound query first opens. It never
// creates a file. Provider failures surface as EOleException.
class AdoConnection : public QObject
{
    Q_OBJECT
public:
    enum class CursorLocation
    {
        Server,
        Client
    };
    enum class Mode
    {
        Read,
        ReadWrite
    };

    explicit AdoConnection(QObject* parent = nullptr);
    ~AdoConnection() override;

    void setConnectionString(const QString& text);
    QString connectionString() const { return m_connectionString; }
    void setCursorLocation(CursorLocation location) { m_cursorLocation = location; }
    CursorLocation cursorLocation() const { return m_cursorLocation; }
    void setLoginPrompt(bool prompt) { m_loginPrompt = prompt; }
    bool loginPrompt() const { return m_loginPrompt; }
    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }

    // Setting false closes an open connection; setting true opens it.
    void setConnected(bool connected);
    bool connected() const { return m_db != nullptr; }
    void open();
    void close();

    // The open SQLite handle, opening the connection first when needed.
    sqlite3* handle();
    // The path the connection string names (after parsing), for messages.
    QString dataSource() const;
    // True when the file could only be opened for reading (or Mode asked for reading).
    bool isReadOnly() const;
    // Runs statements without a result, such as BEGIN, COMMIT and ROLLBACK.
    void execute(const QString& sql);

signals:
    void aboutToClose();

private:
    QString m_connectionString;
    CursorLocation m_cursorLocation = CursorLocation::Client;
    bool m_loginPrompt = false;
    Mode m_mode = Mode::ReadWrite;
    std::unique_ptr<SqliteDatabase> m_db;
};
