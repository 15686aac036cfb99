#include "tests/support/TestSupport.h"
#include "ui/Application.h"
#include "ui/Artwork.h"

#include <gtest/gtest.h>

namespace pictavo::ui {
namespace {

TEST(ErrorBox, CaptionIconAndFullStopRule)
{
    struct Case { QString message, shown; };
    for (const Case& c : {Case{"Bitmap image is not valid", "Bitmap image is not valid."},
                          Case{"Done.", "Done."}, Case{"Really!", "Really!"}, Case{"(x)", "(x)"},
                          Case{"Cannot open file a b ", "Cannot open file a b "}, Case{"", ""}}) {
        const auto box = MakeErrorBox(c.message);
        EXPECT_EQ(box->text(), c.shown);
        EXPECT_EQ(box->windowTitle(), "Redazar");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    }
}

TEST(ApplicationTitle, FileNameCutAtTheFirstDot)
{
    EXPECT_EQ(ApplicationTitle("/usr/bin/Redazar"), "Redazar");
    EXPECT_EQ(ApplicationTitle("/x/REDAZAR.TWO.exe"), "Redazar");
    EXPECT_EQ(ApplicationTitle("redazar"), "redazar");  // the first character stays as it is
    EXPECT_EQ(ApplicationTitle("/a.b/PIcTaVo.x"), "Pictavo");
}

TEST(Artwork, StoredPicturesAndIconLoad)
{
    EXPECT_EQ(StoredPicture(":/artwork/about_photo.bin").size(), QSize(225, 150));
    EXPECT_EQ(MainIcon().size(), QSize(32, 32));
    EXPECT_TRUE(StoredPicture(":/artwork/no_such.bin").isNull());
}

}  // namespace
}  // namespace pictavo::ui
