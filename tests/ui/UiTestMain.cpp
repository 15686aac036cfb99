// The window tests run on Qt's offscreen platform, with the application set
// up as the desktop program sets it up.
#include "ui/Application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The window's kept settings go to a folder of the tests' own.
    // Removed again afterwards: every test runs in a process of its own.
    char config[] = "/tmp/pictavo-ui-config-XXXXXX";
    const bool made = mkdtemp(config) != nullptr;
    if (made) setenv("XDG_CONFIG_HOME", config, 1);
    int result = 0;
    {
        pictavo::ui::PictavoApplication app(argc, argv);
        pictavo::ui::SetUpApplication("/opt/pictavo/REDAZAR.exe");
        testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    if (made) std::filesystem::remove_all(config, ignored);
    return result;
}
