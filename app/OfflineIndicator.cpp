#include "app/OfflineIndicator.h"

const QColor OfflineIndicator::kOfflineColour(160, 0, 0);
const QColor OfflineIndicator::kSendingColour(176, 96, 0);

OfflineIndicator::OfflineIndicator(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

QString OfflineIndicator::textFor(bool offline, int waiting)
{
    if (offline)
        return QStringLiteral("服务器无法连接（离线）：%1 条刷卡待上传").arg(waiting);
    if (waiting > 0)
        return QStringLiteral("正在上传：%1 条刷卡待上传").arg(waiting);
    return {};
}

void OfflineIndicator::showState(bool offline, int waiting)
{
    const QString text = textFor(offline, waiting);
    if (text.isEmpty()) {
        hide();
        clear();
        return;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, offline ? kOfflineColour : kSendingColour);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setText(text);
    show();
}
