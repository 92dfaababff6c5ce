// The real terminal program, started headless: what its command line accepts, prints
// and refuses, and which database a start reaches (seen in the error log line that a
// missing database leaves).
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kTavelo = QStringLiteral(TAVELO_BIN_DIR "/tavelo");

struct Finished
{
    int exitCode = -1;
    QString out;
    QString err;
};

class TaveloProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFile::exists(kTavelo)) << kTavelo.toStdString();
        QDir().mkpath(m_dir.filePath(QStringLiteral("run")));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_dir.filePath(QStringLiteral("system")));
        m_env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void writeSettings(const QByteArray& text)
    {
        const QString path = m_dir.filePath(QStringLiteral("config/tavelo/registry.ini"));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QByteArray errorLog() const
    {
        QFile file(m_dir.filePath(QStringLiteral("state/tavelo/error.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A start that is to end by itself at once (help, version, refusal).
    Finished runToEnd(const QStringList& args)
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(kTavelo, args);
        Finished result;
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "tavelo did not end";
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    }

    // Starts the terminal, waits until the start has logged its error line (at most 20 s),
    // checks that the window is still up, ends it and returns the log.
    QByteArray startUntilLogged(const QStringList& args)
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(kTavelo, args);
        EXPECT_TRUE(process.waitForStarted(10000));
        QElapsedTimer timer;
        timer.start();
        while (!errorLog().contains('\n') && timer.elapsed() < 20000 && process.state() == QProcess::Running)
            QThread::msleep(50);
        // Give a second line, if the start wrongly wrote one, the time to arrive.
        QThread::msleep(300);
        EXPECT_EQ(process.state(), QProcess::Running)
            << "the terminal ended on its own: " << process.readAllStandardError().constData();
        process.kill();
        process.waitForFinished(10000);
        return errorLog();
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
};

int lineCount(const QByteArray& log)
{
    return int(log.count("\r\n"));
}

TEST_F(TaveloProcessTest, HelpAndVersion)
{
    for (const char* option : {"--help", "-h"}) {
        const Finished run = runToEnd({QString::fromLatin1(option)});
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: tavelo [--database TARGET]\n"))) << option;
        EXPECT_TRUE(run.out.contains(QStringLiteral("--database TARGET"))) << option;
        EXPECT_EQ(run.err, QString()) << option;
    }
    for (const char* option : {"--version", "-v"}) {
        const Finished run = runToEnd({QString::fromLatin1(option)});
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_EQ(run.out, QStringLiteral("tavelo 5.2.0\n")) << option;
    }
    EXPECT_EQ(errorLog(), QByteArray());
}

TEST_F(TaveloProcessTest, UnknownOptionsAndQtsOwnAreRefusedWithTheUsage)
{
    const struct
    {
        QStringList args;
        QString reason;
    } cases[] = {
        {{QStringLiteral("--bogus")}, QStringLiteral("tavelo: unknown option 'bogus'\n")},
        {{QStringLiteral("-reverse")}, QStringLiteral("tavelo: unknown option 'reverse'\n")},
        {{QStringLiteral("-style"), QStringLiteral("fusion")},
         QStringLiteral("tavelo: unknown option 'style'\n")},
        {{QStringLiteral("-platform"), QStringLiteral("xcb")},
         QStringLiteral("tavelo: unknown option 'platform'\n")},
        {{QStringLiteral("--reverse")}, QStringLiteral("tavelo: unknown option 'reverse'\n")},
        {{QStringLiteral("extra")},
         QStringLiteral("tavelo: tavelo takes no arguments besides its options\n")},
        {{QStringLiteral("--database")}, QStringLiteral("tavelo: --database needs a TARGET\n")},
        {{QStringLiteral("--database"), QStringLiteral("  ")},
         QStringLiteral("tavelo: --database needs a TARGET\n")},
    };
    for (const auto& c : cases) {
        const Finished run = runToEnd(c.args);
        const std::string args = c.args.join(u' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_EQ(run.out, QString()) << args;
        EXPECT_TRUE(run.err.startsWith(c.reason)) << args << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Usage: tavelo [--database TARGET]"))) << args;
    }
    // None of them got as far as a window or a database.
    EXPECT_EQ(errorLog(), QByteArray());
}

TEST_F(TaveloProcessTest, PasswordOfARefusedTargetIsNotPrinted)
{
    const QStringList targets[] = {
        // An unquoted blank in the password, a misspelt keyword, a broken URI escape.
        {QStringLiteral("--database"), QStringLiteral("host=db password=S3cr3t pw")},
        {QStringLiteral("--database"), QStringLiteral("host=db passwd=S3cr3t")},
        {QStringLiteral("--database"), QStringLiteral("postgresql://att:S3cr3t%zz@db/kq")},
        // The rest of an unquoted TARGET arrives as a stray argument.
        {QStringLiteral("--database"), QStringLiteral("host=db"), QStringLiteral("password=S3cr3t")},
        {QStringLiteral("--database=host=db"), QStringLiteral("--password=S3cr3t")},
    };
    for (const QStringList& args : targets) {
        const Finished run = runToEnd(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("S3cr3t"))) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("S3cr3t")));
    }
}

TEST_F(TaveloProcessTest, NoTargetOpensKqMdbInTheConfiguredFolder)
{
    QDir().mkpath(path(QStringLiteral("folder")));
    writeSettings("[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=" +
                  path(QStringLiteral("folder")).toUtf8() + "\n");
    const QByteArray log = startUntilLogged({});
    EXPECT_EQ(lineCount(log), 1) << log.constData();
    EXPECT_TRUE(log.contains("'" + path(QStringLiteral("folder/kq.mdb")).toUtf8() + "'")) << log.constData();
}

TEST_F(TaveloProcessTest, DatabaseValueWinsOverTheFolder)
{
    writeSettings("[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=" +
                  path(QStringLiteral("folder")).toUtf8() +
                  "\n[software/tavelo]\nDatabase=" + path(QStringLiteral("setting;1.mdb")).toUtf8() + "\n");
    const QByteArray log = startUntilLogged({});
    EXPECT_EQ(lineCount(log), 1) << log.constData();
    EXPECT_TRUE(log.contains("'" + path(QStringLiteral("setting;1.mdb")).toUtf8() + "'")) << log.constData();
}

TEST_F(TaveloProcessTest, OptionWinsOverTheDatabaseValue)
{
    writeSettings("[Software/Tavelo]\ndatabase=" + path(QStringLiteral("setting.mdb")).toUtf8() + "\n");
    for (const QStringList& args :
         {QStringList{QStringLiteral("--database"), path(QStringLiteral("option.mdb"))},
          QStringList{QStringLiteral("--database=") + path(QStringLiteral("option.mdb"))}}) {
        QFile::remove(path(QStringLiteral("state/tavelo/error.log")));
        const QByteArray log = startUntilLogged(args);
        EXPECT_EQ(lineCount(log), 1) << log.constData();
        EXPECT_TRUE(log.contains("'" + path(QStringLiteral("option.mdb")).toUtf8() + "'")) << log.constData();
        EXPECT_FALSE(log.contains("setting.mdb")) << log.constData();
    }
}

} // namespace
