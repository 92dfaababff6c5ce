#pragma once

#include "platform/Exception.h"

#include <QDateTime>
#include <QString>

#include <exception>

// Every text the window's status line and red trouble line show about attendance: what a
// swipe came to, and, when the terminal cannot do its work, short Chinese sentences an
// operator can act on. The error log keeps the database's own message; these say what it
// means at the counter. A wording change is made here and nowhere else. The texts go through
// Qt's translation system (context "TroubleText"): Chinese as written here unless a
// translation is installed (app/TerminalLanguage).
class TroubleText
{
public:
    // The group whose members may write the packaged database.
    static inline const QString kOperatorGroup = QStringLiteral("tavelo");

    // The status texts of a swipe: "【num name】 yyyy-mm-dd hh:nn 刷卡成功！" for a row
    // written, "... 已刷卡" with the row found's own time when one stood within the window.
    static QString recordedSwipe(const QString& num, const QString& name, const QDateTime& at);
    static QString alreadySwiped(const QString& num, const QString& name, const QDateTime& at);
    // The status text of a failed swipe with nobody to name.
    static QString failedSwipe();

    // The status text of a swipe that could not be recorded, in the form of the success
    // text: "【num name】 yyyy-mm-dd hh:nn 刷卡失败！".
    static QString failedSwipe(const QString& num, const QString& name, const QDateTime& at);

    // Why a swipe failed, in a few words ("数据库被其他程序锁定", "磁盘已满", ...), from the
    // kind of trouble the failure it raised carries (Exception::trouble); never from its
    // message, which is the log's.
    static QString swipeReason(const std::exception_ptr& failure);
    // The trouble line after a failed swipe: "刷卡失败：" and the reason.
    static QString swipeTrouble(const QString& reason);
    // Why a swipe recorded nothing when the list has no employee to swipe for.
    static QString noEmployeeReason();

    // Why the database file at path could not be opened at start, with the path: missing
    // file or folder, no permission (naming the tavelo group when not being in it is the
    // cause), an Access file (with the command that brings it over), not a database.
    // `failure` is the kind of the open's own error, used when the file itself shows no
    // cause. operatorGroup is the group whose members may write the database.
    static QString startTrouble(const QString& path, Exception::Trouble failure,
                                const QString& operatorGroup = kOperatorGroup);

    // For a database file that opened: why swipes will not be recorded although the list
    // loaded (the folder, where the journal is made, cannot be written); empty when none.
    static QString writeTrouble(const QString& path);

    // Server mode: the local store at path cannot be written, so swipes made while the
    // server is down cannot be kept.
    static QString storeTrouble(const QString& path);

    // Server mode: swipes a server had confirmed were missing on the server the terminal
    // reaches now (a failover lost them), and were sent again.
    static QString resentSwipes(int count);
    // Server mode: the local store was found damaged (or lacking swipes) and moved aside, and
    // the swipes it held queued again from the ledger beside it. The error log names where it
    // went (too long a path for the trouble line).
    static QString storeRecovered(int requeued);
    // Server mode: the ledger of swipes kept beside the store was damaged and moved aside;
    // the store holds every swipe.
    static QString recordRecovered();
    // Server mode: the store's write-ahead log was deleted while the terminal ran.
    static QString storeLogGone();

    // Server mode: why a swipe could not be queued while the server was out of reach.
    static QString storeSwipeReason(const QString& reason);
    // Server mode: the list could not be loaded, from the server (offline: nor from the
    // terminal's copy).
    static QString listTrouble(bool offline);
    // Server mode: the out-of-reach or sending line with the waiting swipes, and the swipes
    // the server refused; empty when there is nothing to say.
    static QString serverState(bool offline, int waiting, int refused);
    // The trouble line for a database file another program holds locked: held, and how
    // many swipes wait in the local store to be written; while they are being written;
    // empty when nothing waits.
    static QString heldFileState(bool held, int waiting);
};
