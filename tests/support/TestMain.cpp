// Entry of the widget tests: an offscreen application whose events run under
// the program's error guard, as in the real program.
#include "app/VelthApplication.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstdlib>

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(skin);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = QDir::tempPath().toUtf8() + "/velth-test-runtime";
        QDir().mkpath(QString::fromUtf8(runtime));
        QFile::setPermissions(
            QString::fromUtf8(runtime), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
    velth::VelthApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
