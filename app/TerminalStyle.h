#pragma once

#include <QProxyStyle>

// Hints appear after the pointer has rested 500 ms, as on the original desktop.
class TerminalStyle : public QProxyStyle
{
public:
    TerminalStyle();
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
