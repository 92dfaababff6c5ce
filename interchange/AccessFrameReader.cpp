#include "interchange/AccessFrameReader.h"

#include <cstring>
#include <stdexcept>

namespace {
constexpr qsizetype kReadSize = 1 << 20;
}

AccessFrameReader::AccessFrameReader(Source source) : m_source(std::move(source)), m_buffer(kReadSize, '\0')
{
}

bool AccessFrameReader::fill(qsizetype needed)
{
    while (m_end - m_begin < needed) {
        if (m_begin > 0) {
            std::memmove(m_buffer.data(), m_buffer.constData() + m_begin, std::size_t(m_end - m_begin));
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_buffer.size() < needed)
            m_buffer.resize(needed + kReadSize);
        const qsizetype n = m_source(m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (n <= 0)
            return false;
        m_end += n;
    }
    return true;
}

std::optional<AccessFrameReader::Frame> AccessFrameReader::next()
{
    if (!fill(kAccessFrameHeaderSize)) {
        if (m_end == m_begin)
            return std::nullopt;
        throw std::runtime_error("the data ended inside a frame header");
    }
    std::uint32_t length = 0;
    std::memcpy(&length, m_buffer.constData() + m_begin, 4);
    const auto kind = AccessFrame(std::uint8_t(m_buffer[m_begin + 4]));
    if (length > kAccessMaxFrameBody)
        throw std::runtime_error("a frame announced an impossible length");
    if (kind < AccessFrame::Counts || kind > AccessFrame::End)
        throw std::runtime_error("a frame of an unknown kind arrived");
    if (!fill(kAccessFrameHeaderSize + qsizetype(length)))
        throw std::runtime_error("the data ended inside a frame");
    const Frame frame{kind, QByteArrayView(m_buffer.constData() + m_begin + kAccessFrameHeaderSize, length)};
    m_begin += kAccessFrameHeaderSize + qsizetype(length);
    return frame;
}
