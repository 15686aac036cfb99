#include "tests/support/TestSupport.h"
#include "codecs/PictureFormats.h"
#include "ui/PictureDialog.h"

#include <QFileSystemModel>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace pictavo::ui {
namespace {

// Shows `path` and waits for the pane's outcome.
void ShowAndWait(PictureOpenDialog& dialog, const std::string& path)
{
    QSignalSpy shown(&dialog, &PictureOpenDialog::pictureShown);
    dialog.showPicture(QString::fromStdString(path));
    if (shown.isEmpty()) {
        ASSERT_TRUE(shown.wait(10000)) << path;
    }
}

// The filters come from the format table, once each, and every entry shows
// its files in any letter case.
TEST(PictureDialog, FiltersFollowTheFormatTable)
{
    QStringList filters = DialogFilters();
    ASSERT_EQ(filters.size(), 1 + static_cast<int>(PictureKinds().size()));
    EXPECT_TRUE(filters.front().startsWith("All pictures (*.jpg *.jpeg"));
    EXPECT_EQ(filters.removeDuplicates(), 0);
    EXPECT_EQ(DialogFilter(InputFormat::Jpeg), "JPEG pictures (*.jpg *.jpeg *.jpe)");

    test::ScratchDir dir;
    for (const char* name : {"a.JPG", "b.jpeg", "c.Bmp", "d.heic", "e.txt"}) test::WriteBytes(dir.file(name), {1});
    struct Case { InputFormat format; QStringList shown; };
    const Case cases[] = {
        {InputFormat::Jpeg, {"a.JPG", "b.jpeg"}},
        {InputFormat::Bitmap, {"c.Bmp"}},
        {InputFormat::Auto, {"a.JPG", "b.jpeg", "c.Bmp", "d.heic"}},
    };
    for (const Case& c : cases) {
        PictureOpenDialog dialog(nullptr, c.format);
        dialog.setDirectory(QString::fromStdString(dir.path()));
        EXPECT_EQ(dialog.selectedNameFilter(), DialogFilter(c.format));
        EXPECT_EQ(dialog.previewButton()->toolTip(), "Preview");
        auto* files = dialog.findChild<QFileSystemModel*>();
        ASSERT_NE(files, nullptr);
        const QModelIndex root = files->index(QString::fromStdString(dir.path()));
        QStringList shown;
        // The model lists the folder in the background.
        for (int tries = 0; tries < 100 && shown.size() < c.shown.size(); ++tries) {
            QTest::qWait(50);
            shown.clear();
            for (int row = 0; row < files->rowCount(root); ++row) {
                const QModelIndex index = files->index(row, 0, root);
                if (files->flags(index) & Qt::ItemIsEnabled) shown << files->fileName(index);
            }
        }
        shown.sort();
        EXPECT_EQ(shown, c.shown) << static_cast<int>(c.format);
    }
}

TEST(PictureDialog, PreviewPaneShowsSizeOrNone)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("p.JPG"), test::MakeJpeg(40, 20, test::Gradient));
    test::WriteBytes(dir.file("big.jpg"), test::MakeJpeg(2400, 1600, test::Gradient));
    test::WriteBytes(dir.file("side.jpg"),
                     test::MakeJpeg(40, 20, test::Gradient, {.app1 = test::ExifWithOrientation(6)}));
    test::WriteBytes(dir.file("b.bmp"), test::MakeBmp({.width = 3, .height = 2, .bits = 24, .pixels = std::vector<std::uint8_t>(24)}));
    test::WriteBytes(dir.file("broken.jpg"), {1, 2, 3});
    PictureOpenDialog dialog(nullptr, InputFormat::Jpeg);
    struct Case { std::string file; QString label; QSize shown; };
    const Case cases[] = {
        {"p.JPG", " (40x20)", {40, 20}},
        {"side.jpg", " (20x40)", {20, 40}},  // upright
        {"b.bmp", " (3x2)", {3, 2}},
        {"broken.jpg", "Picture:", {}},
        {"missing.jpg", "Picture:", {}},
        {"", "Picture:", {}},  // the folder itself
        {"big.jpg", " (2400x1600)", {}},
    };
    for (const Case& c : cases) {
        ShowAndWait(dialog, dir.file(c.file));
        EXPECT_EQ(dialog.pictureLabel()->text(), c.label) << c.file;
        EXPECT_EQ(dialog.previewButton()->isEnabled(), c.label != "Picture:") << c.file;
        if (c.shown.isValid()) {
            EXPECT_EQ(dialog.picture().size(), c.shown) << c.file;
        }
    }
    // A large picture is shown fitted into the pane, not at its own size.
    EXPECT_LE(dialog.picture().width(), 600);
    EXPECT_NEAR(dialog.picture().width() * 2.0 / 3, dialog.picture().height(), 1.0);

    // Moving on before a picture arrives shows only the latest one.
    dialog.showPicture(QString::fromStdString(dir.file("big.jpg")));
    ShowAndWait(dialog, dir.file("side.jpg"));
    QSignalSpy late(&dialog, &PictureOpenDialog::pictureShown);
    late.wait(300);
    EXPECT_EQ(dialog.pictureLabel()->text(), " (20x40)");
    EXPECT_EQ(dialog.picture().size(), QSize(20, 40));
}

TEST(PictureDialog, PreviewWindowFitsThreeQuartersOfTheScreen)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("huge.jpg"), test::MakeJpeg(4000, 3000, test::Gradient));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QImage picture = ScreenSizedPicture(QString::fromStdString(dir.file("huge.jpg")), nullptr);
    // Decoded at a reduced scale that still covers the window.
    EXPECT_LT(picture.width(), 4000);
    EXPECT_GE(picture.width(), std::min(4000, screen.width() * 3 / 4 - 10));
    PreviewWindow preview(nullptr, picture);
    EXPECT_LE(preview.width(), screen.width() * 3 / 4);
    EXPECT_LE(preview.height(), screen.height() * 3 / 4);
    EXPECT_EQ(preview.windowTitle(), "Preview");
}

}  // namespace
}  // namespace pictavo::ui
