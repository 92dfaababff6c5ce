#pragma once

#include "attendance/StoredSwipe.h"

#include <QString>

#include <cstring>
#include <map>
#include <utility>
#include <vector>

// The second place a terminal keeps its queued and retained swipes: an append-only text
// file beside the local store, one line per change of a swipe's state, each line with a
// check of its own. It shares nothing with the store's SQLite file or its log, so a damaged
// region of the disk, a deleted log or a log frame SQLite silently reads as the end of the
// log loses a swipe in one of the two places only, and the other holds it.
//
// A line: state, number, instant, name, D, T, opdate, server, confirmed-at and the check,
// separated by tabs (tabs, line ends and backslashes in texts escaped). State "q": waiting
// for a server (queued, or set aside as refused); "c": confirmed by a server and retained;
// "x": gone. The last line of a swipe is its state. Appends from several handles and
// processes are whole lines (O_APPEND, one write) and synced; the file is rewritten, with
// only what is live, under an exclusive lock and by rename.
class SwipeLedger
{
public:
    enum class State : char
    {
        Waiting = 'q',
        Confirmed = 'c',
        Gone = 'x'
    };
    struct Entry
    {
        State state = State::Waiting;
        StoredSwipe swipe; // id unused
        QString server;
        qint64 confirmedAt = 0;
    };
    // A swipe is known by its number and instant (D + T, seconds).
    using Key = std::pair<QString, qint64>;
    static Key keyOf(const StoredSwipe& swipe);
    // Keys in the order of their instants (a store made anew from the record queues its
    // swipes again in that order); numbers only tell apart the swipes of one second, by
    // their length and code units, which is cheaper than collating them: every live swipe
    // is looked up at each comparison of store and record.
    struct KeyOrder
    {
        bool operator()(const Key& a, const Key& b) const
        {
            if (a.second != b.second)
                return a.second < b.second;
            if (a.first.size() != b.first.size())
                return a.first.size() < b.first.size();
            return std::memcmp(a.first.constData(), b.first.constData(),
                               size_t(a.first.size()) * sizeof(QChar)) < 0;
        }
    };
    using Live = std::map<Key, Entry, KeyOrder>;

    struct Contents
    {
        // The live swipes (not gone), by key, in their last state.
        Live live;
        int lines = 0;
        // Lines whose check failed or that cannot be read (a torn last line without its
        // line end, which a crash in the middle of an append leaves, is not counted).
        int damagedLines = 0;
    };

    explicit SwipeLedger(QString path);
    static QString pathFor(const QString& storePath);
    QString path() const { return m_path; }

    // Appends the lines in one write and syncs them. Throws DatabaseError.
    void append(const std::vector<Entry>& entries) const;
    // Reads the file (none: empty contents).
    Contents read() const;
    // Replaces the file with one line per live swipe: written beside it, synced, renamed
    // over it, the folder synced.
    void rewrite(const std::vector<Entry>& live) const;
    // Moves a damaged file aside (".damaged", ".damaged.2", ...); returns the new name.
    QString moveAside() const;

    static QByteArray line(const Entry& entry);

private:
    QString m_path;
};
