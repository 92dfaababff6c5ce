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
    return textFor(offline, waiting, 0);
}

QString OfflineIndicator::textFor(bool offline, int waiting, int refused)
{
    QString text;
    if (offline)
        text = QStringLiteral("服务器无法连接（离线）：%1 条刷卡待上传").arg(waiting);
    else if (waiting > 0)
        text = QStringLiteral("正在上传：%1 条刷卡待上传").arg(waiting);
    if (refused > 0) {
        const QString refusal = QStringLiteral("%1 条刷卡被服务器拒绝，见错误日志").arg(refused);
        text = text.isEmpty() ? refusal : text + QStringLiteral("；") + refusal;
    }
    return text;
}

void OfflineIndicator::showState(bool offline, int waiting)
{
    m_offline = offline;
    m_waiting = waiting;
    render();
}

void OfflineIndicator::showRefused(int refused)
{
    m_refused = refused;
    render();
}

void OfflineIndicator::render()
{
    const QString text = textFor(m_offline, m_waiting, m_refused);
    if (text.isEmpty()) {
        hide();
        clear();
        return;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, m_offline || m_refused > 0 ? kOfflineColour : kSendingColour);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setText(text);
    show();
}
