#include "tests/ui/UiTestSupport.h"
#include "ui/AboutForm.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace pictavo::ui {
namespace {

using uitest::Click;
using uitest::SendMouse;

TEST(MainForm, HotSpotsMinimizeAndClose)
{
    TMain_Form f;
    f.show();
    Click(f.MinimizeSpot);
    EXPECT_TRUE(f.isMinimized());
    f.showNormal();
    Click(f.CloseSpot, Qt::RightButton);  // only a left click counts
    EXPECT_TRUE(f.isVisible());
    Click(f.CloseSpot);
    EXPECT_FALSE(f.isVisible());
}

TEST(MainForm, AboutHotSpotShowsTheAboutWindowModally)
{
    TMain_Form f;
    TAbout_Form about(&f);
    f.setAboutForm(&about);
    f.show();
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        wasModal = about.isVisible() && about.isModal();
        about.BitBtn1->click();
    });
    Click(f.AboutSpot);
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(about.isVisible());
}

// A move starts only from a motion with the pressed button still held: the
// window system, asked at a press already released, waits for a release
// that never comes and the window sticks to the pointer.
TEST(MainForm, ThePressMustStillBeHeldWhenTheMoveStarts)
{
    struct Step { QEvent::Type type; QPointF at; Qt::MouseButtons held; };
    const auto press = [](QPointF at) { return Step{QEvent::MouseButtonPress, at, Qt::LeftButton}; };
    const auto release = [](QPointF at) { return Step{QEvent::MouseButtonRelease, at, Qt::NoButton}; };
    const auto drag = [](QPointF at) { return Step{QEvent::MouseMove, at, Qt::LeftButton}; };
    struct Case { const char* name; std::vector<Step> steps; QPoint moved; };
    const Case cases[] = {
        {"drag", {press({100, 150}), drag({130, 170}), release({130, 170})}, {30, 20}},
        {"press released at once", {press({100, 150}), release({100, 150})}, {0, 0}},
        {"motion reported after the release", {press({100, 150}), release({100, 150}), drag({140, 190})}, {0, 0}},
        {"moves only while held", {press({100, 150}), drag({110, 150}), release({110, 150}), drag({200, 250})}, {10, 0}},
    };
    for (bool systemMoves : {false, true}) {
        for (const Case& c : cases) {
            TMain_Form f;
            f.show();
            int asked = 0;
            f.Skin->startSystemMove = [&](QWindow*) { return ++asked, systemMoves; };
            const QPoint start = f.pos();
            for (const Step& s : c.steps) {
                // Positions are the background's; the window may have moved under them.
                const QPointF at = s.at - QPointF(f.pos() - start);
                SendMouse(f.Skin, s.type, at, s.type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, s.held);
            }
            EXPECT_EQ(asked, c.moved.isNull() ? 0 : 1) << c.name;
            // Without the window system's move the window follows the pointer itself.
            EXPECT_EQ(f.pos() - start, systemMoves ? QPoint() : c.moved) << c.name;
        }
    }
}

}  // namespace
}  // namespace pictavo::ui
