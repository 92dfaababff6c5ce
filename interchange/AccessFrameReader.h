#pragma once

#include "interchange/AccessFrame.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>

// Cuts the byte stream of the Access reading process into frames (AccessFrame.h).
class AccessFrameReader
{
public:
    struct Frame
    {
        AccessFrame kind;
        QByteArrayView body; // valid until the next call of next()
    };
    // Reads up to n bytes into the buffer, returning 0 at the end of the stream; may throw
    // std::runtime_error, which next() passes on.
    using Source = std::function<qsizetype(char*, qsizetype)>;

    explicit AccessFrameReader(Source source);

    // The next frame; nullopt when the stream ended cleanly between frames. Throws
    // std::runtime_error naming the fault for a stream that ends inside a frame or whose
    // frame header is impossible.
    std::optional<Frame> next();

private:
    bool fill(qsizetype needed);

    Source m_source;
    QByteArray m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
};
