#include "app/ErrorReport.h"
#include "app/MainForm.h"
#include "app/Prompts.h"
#include "app/VelthApplication.h"

int main(int argc, char** argv)
{
    velth::VelthApplication app(argc, argv);
    velth::QtPrompts prompts;
    velth::setErrorReportPrompts(&prompts);
    velth::TMainForm window(velth::VelthApplication::applicationDirPath().toStdString(), prompts);
    prompts.setOwner(&window);
    window.show();
    return velth::VelthApplication::exec();
}
