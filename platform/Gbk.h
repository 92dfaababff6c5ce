#pragma once

#include <QByteArray>
#include <QString>

// The terminal's 8-bit texts are GBK (a superset of GB2312). Widths and cuts count GBK
// bytes, so texts are converted here, at the edges, and nowhere else.
class Gbk
{
public:
    static QByteArray encode(const QString& text);
    static QString decode(const QByteArray& bytes);
};
