#include "app/MainForm.h"
#include "app/VelthApplication.h"
#include "common/ErrorReport.h"
#include "common/Prompts.h"

int main(int argc, char** argv)
{
    // The skin pictures live in a resource file of a static library: the
    // linker keeps its registration only when a caller names it.
    Q_INIT_RESOURCE(skin);
    velth::VelthApplication app(argc, argv);
    velth::QtPrompts prompts;
    velth::setErrorReportPrompts(&prompts);
    velth::TMainForm window(velth::VelthApplication::applicationDirPath().toStdString(), prompts);
    window.show();
    return velth::VelthApplication::exec();
}
