#pragma once

#include <QString>

#include <cstdio>

// A one-line progress bar for long work of a command-line tool, drawn on a stream only
// when that stream is a terminal and the work is large; otherwise it writes nothing, so
// that logs and pipes stay clean. It redraws when the whole percentage changes.
class ProgressBar
{
public:
    // Work below this many items finishes too soon for a bar to help.
    static constexpr qint64 kThreshold = 10'000;

    ProgressBar(FILE* stream, const QString& label, qint64 total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // True when the stream is a terminal, whatever the amount of work: callers use it to
    // skip counting the work when no bar could show.
    static bool isTerminal(FILE* stream);

    bool shown() const { return m_shown; }
    void update(qint64 done);
    // Draws the full bar and ends its line.
    void finish();

private:
    void draw(qint64 done);

    FILE* m_stream;
    QString m_label;
    qint64 m_total;
    bool m_shown;
    bool m_finished = false;
    int m_percent = -1;
};
