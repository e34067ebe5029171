#pragma once

#include <QString>

#include <functional>

namespace velth {

class Prompts;

// The text the general error report shows: the error's own message, with a
// period added when its last character sorts after the period.
QString errorReportText(const QString& message);

// The one guard every event handler runs under: an error that escapes the
// handler ends it, is shown in the general error report through the prompts
// that are installed, and the program runs on.
void runGuarded(const std::function<void()>& handler);

// A slot for connect() that runs a handler under the guard right where its
// signal fires, so that an error ends the handler there instead of unwinding
// through Qt's event delivery, which is not written for exceptions.
template <typename Object>
auto guarded(Object* object, void (Object::*handler)())
{
    return [object, handler] { runGuarded([object, handler] { (object->*handler)(); }); };
}

// The prompts the guard reports through (the application installs them).
void setErrorReportPrompts(Prompts* prompts);

} // namespace velth
