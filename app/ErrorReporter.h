#pragma once

#include <exception>
#include <utility>

// The one place an error that reaches a window handler is shown: the error box over the
// active window, with the error's message. Handlers catch at their own boundary and hand
// the error over here, so that nothing unwinds through Qt's event dispatch.
class ErrorReporter
{
public:
    // Shows the error box for the failure; never throws.
    static void report(const std::exception_ptr& failure);

    // Runs a handler's body; an error escaping it is reported and goes no further. True
    // when the body ran through.
    template <typename Body> static bool guard(Body&& body)
    {
        try {
            std::forward<Body>(body)();
            return true;
        } catch (...) {
            report(std::current_exception());
            return false;
        }
    }
};
