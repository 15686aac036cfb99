#include "tests/ui/UiTestSupport.h"

#include <QKeyEvent>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace pictavo::ui {
namespace {

TEST(MainForm, WindowProperties)
{
    TMain_Form form;
    EXPECT_EQ(form.objectName(), "Main_Form");
    EXPECT_EQ(form.windowTitle(), "Pictavo");
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form.size(), QSize(436, 343));  // the steps, then the strip under them
    EXPECT_EQ(form.pos(), QPoint(239, 219));
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_EQ(form.Skin->picture().size(), QSize(435, 343));  // the skin, read through the registry
}

TEST(MainForm, EveryControlWhereAndWhatItShouldBe)
{
    TMain_Form f;
    struct Case { QWidget* control; QRect geometry; QString text; };
    const Case cases[] = {
        {f.Skin, {0, 0, 436, 343}, ""},
        {f.ChooseFolderButton, {260, 80, 165, 21}, "Select Folder with Images"},
        {f.PictureList, {12, 72, 225, 205}, ""},
        {f.ResizeButton, {260, 256, 165, 21}, "Resize"},
        {f.SizeGroup, {260, 132, 79, 97}, " Image Size "},
        {f.QualityGroup, {344, 132, 81, 97}, " Quality "},
        {f.RunProgress, {12, 40, 225, 10}, ""},
        {f.SeriesEdit, {352, 106, 73, 21}, "RurOdi"},
        {f.InputFormatGroup, {260, 28, 165, 46}, " Select Input Picture Format "},
        {f.SharpenBox, {260, 236, 97, 17}, "Sharpening"},
        {f.AboutSpot, {384, 8, 13, 13}, ""},
        {f.MinimizeSpot, {399, 8, 13, 13}, ""},
        {f.CloseSpot, {414, 8, 13, 13}, ""},
        // The strip: nothing above y = 287 moves.
        {f.OutputFolderPath, {12, 309, 175, 21}, ""},
        {f.OutputFolderButton, {189, 309, 23, 21}, "..."},
        {f.OutputFolderReset, {214, 309, 23, 21}, "x"},
        {f.OutputFormatBox, {310, 293, 115, 21}, ""},
        {f.KeepMetadataBox, {260, 318, 165, 17}, "Keep copyright and date"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(c.control)) text = b->text();
        if (auto* g = qobject_cast<QGroupBox*>(c.control)) text = g->title();
        if (auto* e = qobject_cast<QLineEdit*>(c.control)) text = e->text();
        EXPECT_EQ(text, c.text) << c.control->objectName().toStdString();
    }
    // Labels keep their place; their width grows only to fit the text.
    struct LabelCase { QLabel* label; QPoint at; QString text; int pixelSize; bool bold; };
    const LabelCase labels[] = {
        {f.ListCaption, {12, 56}, "List of Images", 11, true},  {f.DoneLabel, {216, 20}, "Ok!", 13, true},
        {f.SeriesCaption, {260, 110}, "New series name", 11, false}, {f.Step1Label, {246, 30}, "1", 13, true},
        {f.Step2Label, {246, 82}, "2", 13, true},  {f.Step3Label, {246, 109}, "3", 13, true},
        {f.Step4Label, {246, 132}, "4", 13, true}, {f.Step5Label, {246, 256}, "5", 13, true},
        {f.OutputFolderCaption, {12, 293}, "Output Folder", 11, true},
    };
    for (const LabelCase& l : labels) {
        EXPECT_EQ(l.label->pos(), l.at) << l.text.toStdString();
        EXPECT_EQ(l.label->text(), l.text);
        EXPECT_EQ(l.label->font().pixelSize(), l.pixelSize) << l.text.toStdString();
        EXPECT_EQ(l.label->font().bold(), l.bold) << l.text.toStdString();
    }
    EXPECT_EQ(f.DoneLabel->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_EQ(f.ListCaption->palette().color(QPalette::WindowText), QColor(92, 92, 92));
    EXPECT_EQ(f.SizeGroup->items(), QStringList({"999 x 750", "800 x 600", "640 x 480", "480 x 360", "320 x 240", "160 x 120"}));
    EXPECT_EQ(f.QualityGroup->items(), QStringList({"90%", "75%", "60%", "50%", "30%"}));
    EXPECT_EQ(f.InputFormatGroup->items(), QStringList({"JPG  -> JPG", "BMP -> JPG", "All pictures"}));
    EXPECT_TRUE(f.InputFormatGroup->contentsRect().contains(f.InputFormatGroup->findChildren<QRadioButton*>().at(2)->geometry()));
    EXPECT_EQ(f.OutputFolderPath->text(), "Beside the originals");
    QStringList formats;
    for (int i = 0; i < f.OutputFormatBox->count(); ++i) formats << f.OutputFormatBox->itemText(i);
    EXPECT_EQ(formats, QStringList({"JPEG", "WebP", "AVIF", "JPEG XL", "PNG"}));
    EXPECT_EQ(f.OutputFormatBox->currentIndex(), 0);
}

TEST(MainForm, DefaultsHintsAndTabOrder)
{
    TMain_Form f;
    EXPECT_FALSE(f.ResizeButton->isEnabled());
    EXPECT_TRUE(f.DoneLabel->isHidden());
    EXPECT_EQ(f.SizeGroup->itemIndex(), 1);
    EXPECT_EQ(f.QualityGroup->itemIndex(), 1);
    EXPECT_EQ(f.InputFormatGroup->itemIndex(), 0);
    EXPECT_FALSE(f.SharpenBox->isChecked());
    EXPECT_EQ(f.RunProgress->maximum(), 100);
    EXPECT_EQ(f.RunProgress->value(), 0);
    EXPECT_EQ(f.PictureList->count(), 0);
    EXPECT_FALSE(f.ChooseFolderButton->isDefault() || f.ChooseFolderButton->autoDefault() || f.ResizeButton->autoDefault());

    EXPECT_EQ(f.AboutSpot->toolTip(), "About this program");
    EXPECT_EQ(f.MinimizeSpot->toolTip(), "Minimize");
    EXPECT_EQ(f.CloseSpot->toolTip(), " Close ");
    EXPECT_EQ(f.ChooseFolderButton->toolTip(), "Choose any image from the folder");
    EXPECT_EQ(f.ResizeButton->toolTip(), "Start processing");
    for (QWidget* w : std::initializer_list<QWidget*>{f.PictureList, f.SeriesEdit, f.SharpenBox, f.SizeGroup, f.ListCaption})
        EXPECT_TRUE(w->toolTip().isEmpty());
    EXPECT_EQ(f.AboutSpot->toolTipDuration(), 2500);
    EXPECT_EQ(f.AboutSpot->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(f.ChooseFolderButton->cursor().shape(), Qt::PointingHandCursor);

    // Tab: ChooseFolderButton, list, Resize, size, quality, series, format, sharpening,
    // then the strip.
    f.ResizeButton->setEnabled(true);
    f.show();
    QApplication::setActiveWindow(&f);
    f.ChooseFolderButton->setFocus();
    std::vector<QString> order;
    for (int i = 0; i < 12; ++i) {
        QWidget* w = QApplication::focusWidget();
        ASSERT_NE(w, nullptr);
        order.push_back(qobject_cast<QRadioButton*>(w) ? w->parentWidget()->objectName() : w->objectName());
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(w, &tab);
    }
    EXPECT_EQ(order, (std::vector<QString>{"ChooseFolderButton", "PictureList", "ResizeButton", "SizeGroup", "QualityGroup", "SeriesEdit",
                                           "InputFormatGroup", "SharpenBox", "OutputFolderButton", "OutputFormatBox", "KeepMetadataBox", "ChooseFolderButton"}));
    EXPECT_EQ(f.RunProgress->focusPolicy(), Qt::NoFocus);
}

TEST(MainForm, OutlineCutsTheCornersAndTheRightStrip)
{
    TMain_Form f;
    const QRegion mask = f.mask();
    EXPECT_EQ(WindowOutline().size(), 13);
    EXPECT_EQ(WindowOutline().front(), WindowOutline().back());
    for (QPoint outside : {QPoint(0, 0), QPoint(435, 100), QPoint(434, 150), QPoint(433, 342), QPoint(0, 342), QPoint(1, 0)})
        EXPECT_FALSE(mask.contains(outside)) << outside.x() << "," << outside.y();
    for (QPoint inside : {QPoint(218, 143), QPoint(6, 1), QPoint(2, 10), QPoint(430, 140), QPoint(200, 341), QPoint(1, 300)})
        EXPECT_TRUE(mask.contains(inside)) << inside.x() << "," << inside.y();
}

}  // namespace
}  // namespace pictavo::ui
