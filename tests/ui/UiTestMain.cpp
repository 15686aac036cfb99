// The window tests run on Qt's offscreen platform, with the application set
// up as the desktop program sets it up.
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pictavo::ui::PictavoApplication app(argc, argv);
    pictavo::ui::SetUpApplication("/opt/pictavo/REDAZAR.exe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
