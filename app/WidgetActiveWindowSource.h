#pragma once

#include "log/ActiveWindowSource.h"

// The caption of the application's active window, for tagging error log lines.
class WidgetActiveWindowSource : public ActiveWindowSource
{
public:
    QString activeWindowCaption() const override;
};
