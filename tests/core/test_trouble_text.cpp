// What the red line says when the database may not be written, worked out as a user
// without the right (nobody, when the tests run as root): the folder or file of the
// operators' group names the group to be added to; otherwise the path alone.

#include "interchange/DevSchema.h"
#include "attendance/TroubleText.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class NoPermission : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
        m_path = m_dir.filePath(QStringLiteral("kq.mdb"));
        QString error;
        ASSERT_TRUE(DevSchema::createDatabase(m_path, {}, &error)) << error.toStdString();
    }

    void setModes(mode_t folder, mode_t file) const
    {
        ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), folder), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), file), 0);
    }

    // The line as a user in none of root's groups sees it, with root's group standing in for
    // the operators' group.
    std::string seenWithoutTheGroup(bool started) const
    {
        const QString path = m_path;
        return TestSupport::asUnprivilegedUser([path, started] {
            const QString text = started ? TroubleText::writeTrouble(path)
                                         : TroubleText::startTrouble(path, Exception::Trouble::Unknown,
                                                                     QStringLiteral("root"));
            return text.toStdString();
        });
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(NoPermission, GroupWritableFileNamesTheGroupToJoin)
{
    ASSERT_EQ(::geteuid(), 0u) << "the user without rights is made from root, as the tests run in CI";
    setModes(0775, 0664);
    EXPECT_EQ(seenWithoutTheGroup(false),
              QStringLiteral("无权写入数据库 %1，请让管理员把您加入 root 组").arg(m_path).toStdString());
    EXPECT_EQ(seenWithoutTheGroup(true), QStringLiteral("无权写入数据库 %1").arg(m_path).toStdString());
}

TEST_F(NoPermission, FileOfItsOwnerAloneNamesOnlyThePath)
{
    setModes(0755, 0644);
    EXPECT_EQ(seenWithoutTheGroup(false), QStringLiteral("无权写入数据库 %1").arg(m_path).toStdString());
    setModes(0755, 0600);
    EXPECT_EQ(seenWithoutTheGroup(false), QStringLiteral("无权写入数据库 %1").arg(m_path).toStdString());
}

// A file that may be written in a folder that may not: the list loads, but the journal of
// every swipe could not be made.
TEST_F(NoPermission, UnwritableFolderIsSaidAtStart)
{
    setModes(0755, 0666);
    EXPECT_EQ(seenWithoutTheGroup(true), QStringLiteral("无权写入数据库 %1").arg(m_path).toStdString());
    setModes(0777, 0666);
    EXPECT_EQ(seenWithoutTheGroup(true), "");
}

} // namespace
