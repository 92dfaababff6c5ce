// A terminal without a window, for the tests that kill it: it loads the employee list as
// the window does (from the server, or from its copy when the server cannot be reached),
// swipes the employees it is told to at the instants it is told, prints each status text,
// and then keeps forwarding until it is killed, or with --exit-when-sent until nothing
// waits and the server answers.
//
//   offline_terminal <conninfo> <store> [--swipe NUM "yyyy-mm-dd hh:nn:ss"]... [--exit-when-sent]

#include "query/ConnectionString.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "attendance/AttendanceLink.h"
#include "query/Statements.h"
#include "log/ErrMsgForm.h"
#include "support/ManualClock.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <utility>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: offline_terminal <conninfo> <store> [--swipe NUM TIME]... [--exit-when-sent]\n");
        return 2;
    }
    std::vector<std::pair<QString, QDateTime>> swipes;
    bool exitWhenSent = false;
    for (qsizetype i = 3; i < args.size(); ++i) {
        if (args.at(i) == u"--swipe" && i + 2 < args.size()) {
            const QDateTime at = QDateTime::fromString(args.at(i + 2), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            swipes.emplace_back(args.at(i + 1), QDateTime(at.date(), at.time(), Qt::UTC));
            i += 2;
        } else if (args.at(i) == u"--exit-when-sent") {
            exitWhenSent = true;
        } else {
            return 2;
        }
    }
    ErrMsgForm::instance().setLogFileName(
        QDir(args.at(2) + QStringLiteral(".d")).filePath(QStringLiteral("error.log")));
    ErrMsgForm::instance().createLogFolder();

    AdoConnection connection;
    connection.setConnectionString(ConnectionString::forServer(args.at(1)));
    AdoQuery employees(QStringLiteral("YgQry"));
    AdoQuery records(QStringLiteral("RecordQry"));
    employees.setConnection(&connection);
    records.setConnection(&connection);
    AttendanceLink::Options options;
    options.firstRetryMs = 200;
    options.longestRetryMs = 1000;
    AttendanceLink link(connection, args.at(1 + 1), options);
    link.loadEmployees(&employees);

    ManualClock clock;
    for (const auto& [num, at] : swipes) {
        clock.set(at);
        QString text = QStringLiteral("no employee %1").arg(num);
        if (employees.isOpen() && employees.locate(Statements::kNum, num))
            text = link.swipe(&employees, records, clock).statusText;
        std::printf("%s\n", text.toUtf8().constData());
        std::fflush(stdout);
    }

    const auto report = [&](bool offline, int waiting) {
        std::printf("%s waiting %d\n", offline ? "offline" : "online", waiting);
        std::fflush(stdout);
        if (exitWhenSent && !offline && waiting == 0)
            app.quit();
    };
    QObject::connect(&link, &AttendanceLink::stateChanged, &app, report, Qt::QueuedConnection);
    report(link.isOffline(), link.waitingCount());
    if (exitWhenSent && !link.isOffline() && link.waitingCount() == 0)
        return 0;
    link.forwardNow();
    return app.exec();
}
