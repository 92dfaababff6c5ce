#include "app/TerminalStyle.h"

#include <QStyleFactory>

TerminalStyle::TerminalStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

int TerminalStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const
{
    if (hint == SH_ToolTip_WakeUpDelay)
        return 500;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}
