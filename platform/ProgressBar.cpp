#include "platform/ProgressBar.h"

#include <QByteArray>

#include <algorithm>

#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;

} // namespace

ProgressBar::ProgressBar(FILE* stream, const QString& label, qint64 total)
    : m_stream(stream), m_label(label), m_total(total), m_shown(isTerminal(stream) && total >= kThreshold)
{
}

ProgressBar::~ProgressBar()
{
    // Work that stopped early leaves the bar where it stood, on a line of its own.
    if (m_shown && !m_finished && m_percent >= 0) {
        std::fputc('\n', m_stream);
        std::fflush(m_stream);
    }
}

bool ProgressBar::isTerminal(FILE* stream)
{
    return stream && isatty(fileno(stream)) == 1;
}

void ProgressBar::update(qint64 done)
{
    if (!m_shown || m_finished)
        return;
    const int percent = int(std::clamp<qint64>(done * 100 / m_total, 0, 100));
    if (percent == m_percent)
        return;
    m_percent = percent;
    draw(done);
}

void ProgressBar::finish()
{
    if (!m_shown || m_finished)
        return;
    m_percent = 100;
    draw(m_total);
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
    m_finished = true;
}

void ProgressBar::draw(qint64 done)
{
    const int filled = m_percent * kBarWidth / 100;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '.');
    std::fprintf(m_stream, "\r%s [%s] %3d%% %lld/%lld", m_label.toLocal8Bit().constData(), bar.constData(),
                 m_percent, static_cast<long long>(qMin(done, m_total)), static_cast<long long>(m_total));
    std::fflush(m_stream);
}
