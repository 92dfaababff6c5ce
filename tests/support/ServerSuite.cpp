#include "support/ServerSuite.h"

#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"

#include <QFile>

#include <stdexcept>

PgTestServer* ServerSuite::s_server = nullptr;

void ServerSuite::SetUpTestSuite()
{
    s_server = new PgTestServer();
    QString error;
    if (!DevSchema::createServerDatabase(s_server->conninfo(), DevSchema::demoEmployees(), &error))
        throw std::runtime_error(error.toStdString());
}

void ServerSuite::TearDownTestSuite()
{
    delete s_server;
    s_server = nullptr;
}

void ServerSuite::SetUp()
{
    ASSERT_NE(s_server, nullptr);
    ASSERT_TRUE(m_dir.isValid());
    if (!s_server->isRunning())
        s_server->start();
    psql(QStringLiteral("DELETE FROM sgdjb"));
    m_savedLog = ErrMsgForm::instance().logFileName();
    ErrMsgForm::instance().setLogFileName(m_dir.filePath(QStringLiteral("error.log")));
}

void ServerSuite::TearDown()
{
    ErrMsgForm::instance().setLogFileName(m_savedLog);
}

PgTestServer& ServerSuite::server()
{
    return *s_server;
}

QString ServerSuite::conninfo()
{
    return s_server->conninfo();
}

QString ServerSuite::psql(const QString& sql)
{
    return s_server->psql(sql);
}

QList<QByteArray> ServerSuite::logLines() const
{
    QFile file(ErrMsgForm::instance().logFileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

QString ServerSuite::tempPath(const char* name) const
{
    return m_dir.filePath(QString::fromLatin1(name));
}
