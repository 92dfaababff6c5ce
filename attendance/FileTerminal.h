#pragma once

#include "attendance/AttendanceTerminal.h"

#include <memory>

class AttendanceLink;

// A terminal on a database file. A swipe is recorded in the file at once, or, while another
// program holds the file locked for writing (a management program's long update, a shell
// in the middle of a transaction), kept with the instant of the key press in the terminal's
// local store and written once the file is free (see AttendanceLink): the window answers
// as quickly as for a silent server, and the red line says the file is held and how many
// swipes wait.
class FileTerminal : public AttendanceTerminal
{
    Q_OBJECT
public:
    FileTerminal(AdoConnection& connection, const QString& filePath, const Clock& clock);
    ~FileTerminal() override;

    void loadEmployees(AdoQuery* employees) override;
    SwipeOutcome swipe(AdoQuery* employees, AdoQuery& recordQry) override;

private:
    void showHeld(bool held, int waiting);
    void publishTrouble();

    std::unique_ptr<AttendanceLink> m_link;
    QString m_filePath;
    const Clock& m_clock;
    QString m_loadTrouble;
    bool m_held = false;
    int m_waiting = 0;
};
