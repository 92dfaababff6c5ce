#pragma once

#include "support/PgTestServer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A test suite against one throwaway server holding the development schema and its demo
// employees. Each test starts with no attendance rows, a running server (a test may have
// stopped it) and an error log of its own in a fresh temporary folder.
class ServerSuite : public ::testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static PgTestServer& server();
    static QString conninfo();
    static QString psql(const QString& sql);
    // The lines of this test's error log, empty lines left out.
    QList<QByteArray> logLines() const;
    // A path in this test's temporary folder.
    QString tempPath(const char* name) const;

private:
    static PgTestServer* s_server;
    QTemporaryDir m_dir;
    QString m_savedLog;
};
