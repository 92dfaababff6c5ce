#include "log/ErrMsgForm.h"

#include "platform/AppPaths.h"
#include "platform/SystemClock.h"

ErrMsgForm::ErrMsgForm() : m_logFileName(AppPaths::defaultLogFilePath()), m_clock(&SystemClock::instance()) {}

ErrMsgForm& ErrMsgForm::instance()
{
    static ErrMsgForm form;
    return form;
}

bool ErrMsgForm::createLogFolder() const
{
    return !m_logFileName.isEmpty() && AppPaths::createParentFolder(m_logFileName);
}

void ErrMsgForm::setClock(const Clock* clock)
{
    m_clock = clock ? clock : &SystemClock::instance();
}
