#include "platform/SearchKey.h"

#include "platform/Gbk.h"

#include <QByteArray>

#include <algorithm>

QString SearchKey::fromText(const QString& text)
{
    const QByteArray bytes = Gbk::encode(text);
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && static_cast<unsigned char>(bytes[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(bytes[end - 1]) <= 32)
        --end;
    const qsizetype length = std::min<qsizetype>(end - begin, kMaxBytes);
    qsizetype whole = 0;
    while (whole < length) {
        const qsizetype step = static_cast<unsigned char>(bytes[begin + whole]) >= 0x81 ? 2 : 1;
        if (whole + step > length)
            break;
        whole += step;
    }
    return Gbk::decode(bytes.mid(begin, whole));
}
