#include "app/MainForm.h"
#include "app/ProgramFolder.h"
#include "app/VelthApplication.h"
#include "common/ErrorReport.h"
#include "common/Prompts.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    // The skin pictures live in a resource file of a static library: the
    // linker keeps its registration only when a caller names it.
    Q_INIT_RESOURCE(skin);
    velth::VelthApplication app(argc, argv);
    velth::QtPrompts prompts;
    velth::setErrorReportPrompts(&prompts);
    // A portable copy keeps its files beside the executable, an installed one
    // in the user's data folder.
    const std::string folder = velth::chooseProgramFolder(velth::VelthApplication::applicationDirPath().toStdString(),
        velth::userDataFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
    velth::TMainForm window(folder, prompts);
    window.show();
    return velth::VelthApplication::exec();
}
