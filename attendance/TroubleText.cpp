#include "attendance/TroubleText.h"

#include "platform/DateTimeText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>
#endif

namespace {

// A failure's kind in a few words; empty for a kind that has none of its own.
QString reasonFor(Exception::Trouble trouble)
{
    using Trouble = Exception::Trouble;
    switch (trouble) {
    case Trouble::Locked:
        return QCoreApplication::translate("TroubleText", "数据库被其他程序锁定");
    case Trouble::DiskFull:
        return QCoreApplication::translate("TroubleText", "磁盘已满");
    case Trouble::NoWriteRight:
        return QCoreApplication::translate("TroubleText", "无权写入数据库");
    case Trouble::DiskIo:
        return QCoreApplication::translate("TroubleText", "磁盘读写出错");
    case Trouble::Damaged:
        return QCoreApplication::translate("TroubleText", "数据库文件已损坏");
    case Trouble::CannotOpen:
        return QCoreApplication::translate("TroubleText", "数据库文件无法打开");
    case Trouble::MissingFile:
        return QCoreApplication::translate("TroubleText", "数据库文件不见了");
    case Trouble::AccessFile:
        return QCoreApplication::translate("TroubleText", "数据库被换成了 Access 文件");
    case Trouble::Folder:
        return QCoreApplication::translate("TroubleText", "数据库路径是一个文件夹");
    case Trouble::MissingTable:
        return QCoreApplication::translate("TroubleText", "数据库中没有考勤表");
    case Trouble::NoNumber:
        return QCoreApplication::translate("TroubleText", "该员工没有编号");
    case Trouble::Refused:
        return QCoreApplication::translate("TroubleText", "服务器拒绝了这次刷卡（原因见错误日志）");
    case Trouble::Unreachable:
        return QCoreApplication::translate("TroubleText", "服务器无法连接");
    case Trouble::UntrustedPath:
        return QCoreApplication::translate("TroubleText",
                                           "路径上的文件夹可被他人改动，不能信任（见错误日志）");
    case Trouble::ForeignLogFile:
        return QCoreApplication::translate("TroubleText",
                                           "数据库旁有无法使用的日志文件，请管理员处理（见错误日志）");
    case Trouble::Unknown:
        break;
    }
    return {};
}

#ifndef Q_OS_WIN
bool inGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(size_t(count), 0);
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[size_t(i)] == gid)
            return true;
    return false;
}

// Writing is refused because the file or its folder is writable by the operators' group
// only, and this user is not in it: the fix is to be added, not to change the file.
bool groupIsTheCause(const QString& path, const QString& operatorGroup)
{
    const group* operators = getgrnam(operatorGroup.toLocal8Bit().constData());
    if (!operators || inGroup(operators->gr_gid))
        return false;
    for (const QString& candidate : {path, QFileInfo(path).absolutePath()}) {
        struct stat st;
        if (::stat(QFile::encodeName(candidate).constData(), &st) == 0 && st.st_gid == operators->gr_gid &&
            (st.st_mode & S_IWGRP))
            return true;
    }
    return false;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// Mounted read-only: no permission would help.
bool onReadOnlyFileSystem(const QString& path)
{
    struct statvfs fs;
    return ::statvfs(QFile::encodeName(path).constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY);
}
#else
bool groupIsTheCause(const QString&, const QString&)
{
    return false;
}

bool writable(const QString& path)
{
    return QFileInfo(path).isWritable();
}

bool onReadOnlyFileSystem(const QString&)
{
    return false;
}
#endif

QString noPermission(const QString& path, const QString& operatorGroup = TroubleText::kOperatorGroup)
{
    if (onReadOnlyFileSystem(path))
        return QCoreApplication::translate("TroubleText", "数据库 %1 所在的磁盘是只读的，无法写入").arg(path);
    QString text = QCoreApplication::translate("TroubleText", "无权写入数据库 %1").arg(path);
    if (groupIsTheCause(path, operatorGroup))
        text += QCoreApplication::translate("TroubleText", "，请让管理员把您加入 %1 组").arg(operatorGroup);
    return text;
}

} // namespace

QString TroubleText::failedSwipe(const QString& num, const QString& name, const QDateTime& at)
{
    return QCoreApplication::translate("TroubleText", "【%1 %2】 %3 刷卡失败！")
        .arg(num, name, DateTimeText::dateTimeMinutes(at));
}

QString TroubleText::swipeReason(const std::exception_ptr& failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const Exception& error) {
        const QString reason = reasonFor(error.trouble());
        if (!reason.isEmpty())
            return reason;
    } catch (...) {
    }
    return QCoreApplication::translate("TroubleText", "数据库出错");
}

QString TroubleText::swipeTrouble(const QString& reason)
{
    return QCoreApplication::translate("TroubleText", "刷卡失败：%1").arg(reason);
}

QString TroubleText::startTrouble(const QString& path, Exception::Trouble failure,
                                  const QString& operatorGroup)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        const QFileInfo folder(info.absolutePath());
        if (!folder.isDir())
            return QCoreApplication::translate("TroubleText", "无法打开数据库：文件夹 %1 不存在")
                .arg(QDir::toNativeSeparators(folder.filePath()));
        if (!folder.isExecutable())
            return noPermission(shown, operatorGroup);
        return QCoreApplication::translate("TroubleText", "无法打开数据库：文件 %1 不存在").arg(shown);
    }
    if (info.isDir())
        return QCoreApplication::translate("TroubleText", "无法打开数据库：%1 是文件夹，不是数据库文件")
            .arg(shown);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return noPermission(shown, operatorGroup);
    const QByteArray header = file.read(100);
    const QByteArray product = header.mid(4, 15);
    if (product == "Standard Jet DB" || product == "Standard ACE DB")
        return QCoreApplication::translate("TroubleText",
                                           "%1 是 Access 数据库，请先转换：kqdb import-mdb %1 新文件.sqlite")
            .arg(shown);
    if (!header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return QCoreApplication::translate("TroubleText", "无法打开数据库：%1 不是数据库文件").arg(shown);
    if (!writable(path) || !writable(info.absolutePath()))
        return noPermission(shown, operatorGroup);
    if (failure == Exception::Trouble::MissingTable)
        return QCoreApplication::translate("TroubleText", "数据库 %1 中没有员工表 employ").arg(shown);
    const QString reason = reasonFor(failure);
    if (!reason.isEmpty())
        return QCoreApplication::translate("TroubleText", "无法打开数据库 %1：%2").arg(shown, reason);
    return QCoreApplication::translate("TroubleText", "无法打开数据库 %1（原因见错误日志）").arg(shown);
}

QString TroubleText::writeTrouble(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || (writable(path) && writable(info.absolutePath())))
        return {};
    return noPermission(QDir::toNativeSeparators(path));
}

QString TroubleText::storeTrouble(const QString& path)
{
    return QCoreApplication::translate("TroubleText", "本地存储 %1 无法写入：服务器断开时的刷卡将无法保存")
        .arg(QDir::toNativeSeparators(path));
}

QString TroubleText::resentSwipes(int count)
{
    return QCoreApplication::translate("TroubleText",
                                       "%1 条已确认的刷卡在新服务器上缺失，已重新上传（见错误日志）")
        .arg(count);
}

QString TroubleText::storeRecovered(int requeued)
{
    return QCoreApplication::translate("TroubleText",
                                       "本地存储已损坏，已移到一旁（见错误日志）；其中的 %1 条刷卡已重新排队")
        .arg(requeued);
}

QString TroubleText::recordRecovered()
{
    return QCoreApplication::translate("TroubleText",
                                       "刷卡副本已损坏，已移到一旁（见错误日志）；刷卡均在本地存储中，未丢失");
}

QString TroubleText::storeLogGone()
{
    return QCoreApplication::translate("TroubleText", "本地存储的日志文件被删除，刷卡已另行保存（见错误日志）");
}


QString TroubleText::recordedSwipe(const QString& num, const QString& name, const QDateTime& at)
{
    return QCoreApplication::translate("TroubleText", "【%1 %2】 %3 刷卡成功！")
        .arg(num, name, DateTimeText::dateTimeMinutes(at));
}

QString TroubleText::alreadySwiped(const QString& num, const QString& name, const QDateTime& at)
{
    return QCoreApplication::translate("TroubleText", "【%1 %2】 %3 已刷卡")
        .arg(num, name, DateTimeText::dateTimeMinutes(at));
}

QString TroubleText::failedSwipe()
{
    return QCoreApplication::translate("TroubleText", "刷卡失败！");
}

QString TroubleText::noEmployeeReason()
{
    return QCoreApplication::translate("TroubleText", "员工名单是空的");
}

QString TroubleText::storeSwipeReason(const QString& reason)
{
    return QCoreApplication::translate("TroubleText", "本地存储无法写入（%1）").arg(reason);
}

QString TroubleText::listTrouble(bool offline)
{
    return offline ? QCoreApplication::translate("TroubleText", "服务器无法连接，本机也没有员工名单的副本")
                   : QCoreApplication::translate("TroubleText", "无法从服务器读取员工名单（原因见错误日志）");
}

QString TroubleText::heldFileState(bool held, int waiting)
{
    if (held)
        return QCoreApplication::translate("TroubleText", "数据库被其他程序锁定：%1 条刷卡待写入")
            .arg(waiting);
    if (waiting > 0)
        return QCoreApplication::translate("TroubleText", "正在写入数据库：%1 条刷卡待写入").arg(waiting);
    return {};
}

QString TroubleText::serverState(bool offline, int waiting, int refused)
{
    QString text;
    if (offline)
        text = QCoreApplication::translate("TroubleText", "服务器无法连接（离线）：%1 条刷卡待上传")
                   .arg(waiting);
    else if (waiting > 0)
        text = QCoreApplication::translate("TroubleText", "正在上传：%1 条刷卡待上传").arg(waiting);
    if (refused > 0) {
        const QString refusal =
            QCoreApplication::translate("TroubleText", "%1 条刷卡被服务器拒绝，见错误日志").arg(refused);
        text = text.isEmpty() ? refusal : text + QCoreApplication::translate("TroubleText", "；") + refusal;
    }
    return text;
}
