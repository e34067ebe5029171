#pragma once

#include <QApplication>

namespace velth {

// The application object. Every event is delivered under the error guard, so
// an error raised by any handler (a button press, a network callback, a timer)
// ends in the general error report instead of ending the program.
class VelthApplication final : public QApplication
{
public:
    VelthApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace velth
