// The window tests run on Qt's offscreen platform, with the application set
// up as the desktop program sets it up.
#include "codecs/PictureFormats.h"
#include "ui/Application.h"

#include <QFont>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Q_INIT_RESOURCE(artwork);
    pictavo::RegisterJpegFormats();
    pictavo::RegisterBitmapFormat();
    pictavo::ui::PictavoApplication app(argc, argv);
    QApplication::setApplicationName(pictavo::ui::ApplicationTitle("/opt/pictavo/REDAZAR.exe"));
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
