#include "app/ErrorReporter.h"

#include "app/MessageBox.h"
#include "platform/Exception.h"

#include <QApplication>

void ErrorReporter::report(const std::exception_ptr& failure)
{
    QString message;
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = QString::fromLocal8Bit(error.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    try {
        MessageBox::error(QApplication::activeWindow(), message);
    } catch (...) {
        // The box itself failed (no memory for it): nothing is left to show it with.
    }
}
