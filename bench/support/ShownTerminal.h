#pragma once

#include "GuiBenchEnvironment.h"

#include "app/MessageBox.h"
#include "app/QuorelMain.h"
#include "query/AdoQuery.h"

#include <memory>

// A shown terminal window over a database of generated employees, loaded and painted,
// in the benchmark environment.
class ShownTerminal
{
public:
    explicit ShownTerminal(int employees)
    {
        GuiBenchEnvironment& environment = GuiBenchEnvironment::instance();
        if (!environment.useDatabase(employees, &m_error))
            return;
        form = std::make_unique<TQuorelMainForm>(environment.clock());
        form->show();
        QElapsedTimer waited;
        waited.start();
        GuiBench::processEventsUntil([this] { return GuiBench::isExposed(*form); }, waited);
        QCoreApplication::processEvents();
        if (!form->YgQry->isOpen() || form->YgQry->recordCount() != employees)
            m_error = QStringLiteral("the list did not load %1 employees").arg(employees);
    }

    // Empty when the window is ready.
    QString error() const
    {
        if (!m_error.isEmpty())
            return m_error;
        return MessageBox::shown().empty() ? QString() : MessageBox::shown().back().text;
    }

    std::unique_ptr<TQuorelMainForm> form;

private:
    QString m_error;
};
