#pragma once

#include "support/DevDatabase.h"
#include "support/SqliteFile.h"
#include "support/ToolRun.h"
#include "support/Unprivileged.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

// Helpers shared by the tests: throw-away development databases, direct access to them
// that bypasses the code under test, files and the command-line tools.
namespace TestSupport {

// The development schema as one SQL text, from the one definition the tool uses.
QString schemaSql();
// Connection string as the terminal composes it for a database file.
QString jetConnectionString(const QString& path);
QByteArray fileBytes(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Seconds of the local wall clock since 1970-01-01 for a "yyyy-mm-dd hh:nn:ss" text.
qint64 wallSeconds(const QString& text);
// The moment a ManualClock is set to for a "yyyy-mm-dd hh:nn:ss" text.
QDateTime clockAt(const char* text);

// Polls `done` until it holds or `ms` milliseconds have passed; false on the time-out. For
// what another thread or process brings about (a forwarder's round, a server's state).
bool waitUntil(const std::function<bool()>& done, int ms, int pollMs = 50);
// The same with this thread's event loop running between polls: what the link logs and
// publishes reaches the window through it.
bool waitWithEvents(const std::function<bool()>& done, int ms);
// The application object a test needs for an event loop, made once.
void coreApplication();

} // namespace TestSupport
