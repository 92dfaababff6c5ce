#include "platform/FileError.h"
#include "platform/LogFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

bool anotherWriterCanLock(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    const bool locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return locked;
}

// A step that throws leaves the object to its destructor; the file must not stay open
// and locked against the next line.
TEST(LogFileTest, FileLeftWithoutCloseIsClosedAndUnlocked)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("error.log"));
    LogFile::createIfMissing(path);
    const qsizetype before = openDescriptors();
    {
        LogFile file(path);
        file.write("partial");
        EXPECT_FALSE(anotherWriterCanLock(path));
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(anotherWriterCanLock(path));
}

TEST(LogFileTest, WriterTurnedAwayByTheLockLeavesNothingOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("error.log"));
    LogFile::createIfMissing(path);
    LogFile holder(path);
    const qsizetype before = openDescriptors();
    EXPECT_THROW(LogFile second(path), FileError);
    EXPECT_EQ(openDescriptors(), before);
    holder.close();
    EXPECT_TRUE(anotherWriterCanLock(path));
}

// A link planted under the log's name (to a file of someone else's, or where none is yet)
// is never followed: the append fails and the link's target is neither made nor written.
TEST(LogFileTest, SymbolicLinkUnderTheNameIsNotFollowed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("error.log"));
    const QString target = dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(QFile::link(target, path));
    const int creation = LogFile::createIfMissing(path);
    EXPECT_NE(creation, 0);
    EXPECT_THROW(LogFile(path, creation), FileError);
    EXPECT_FALSE(QFile::exists(target));

    {
        QFile existing(target);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("kept\n");
    }
    EXPECT_THROW(LogFile(path, LogFile::createIfMissing(path)), FileError);
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept\n");
}

} // namespace
