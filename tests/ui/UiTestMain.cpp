// The window tests run on Qt's offscreen platform, with the application set
// up as the desktop program sets it up.
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The window's kept settings go to a folder of the tests' own.
    char config[] = "/tmp/pictavo-ui-config-XXXXXX";
    if (mkdtemp(config) != nullptr) setenv("XDG_CONFIG_HOME", config, 1);
    pictavo::ui::PictavoApplication app(argc, argv);
    pictavo::ui::SetUpApplication("/opt/pictavo/REDAZAR.exe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
