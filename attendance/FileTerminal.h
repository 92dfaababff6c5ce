#pragma once

#include "attendance/TerminalWay.h"

class Clock;

// A terminal on a database file: the file is there or not, and a swipe is recorded in it
// at once or fails; there is nothing to wait for and nothing to send later.
class FileTerminal : public TerminalWay
{
    Q_OBJECT
public:
    FileTerminal(const QString& filePath, const Clock& clock);

    void loadEmployees(AdoQuery* employees, CardRegister& cards) override;
    SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry) override;

private:
    QString m_filePath;
    const Clock& m_clock;
};
