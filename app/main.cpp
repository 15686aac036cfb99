// Redazar: brings the application up, runs its one window until it closes,
// and takes everything down again.
#include "ui/AboutForm.h"
#include "ui/Application.h"
#include "ui/MainForm.h"

int main(int argc, char** argv)
{
    using namespace pictavo;
    ui::PictavoApplication app(argc, argv);
    ui::SetUpApplication(QString::fromLocal8Bit(argv[0]));

    ui::TMain_Form mainForm;
    ui::TAbout_Form aboutForm(&mainForm);
    mainForm.setAboutForm(&aboutForm);
    mainForm.restoreSettings();
    mainForm.show();
    mainForm.ChooseFolderButton->setFocus();
    app.exec();
    mainForm.saveSettings();
    return 0;
}
