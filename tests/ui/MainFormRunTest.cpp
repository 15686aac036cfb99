#include "batch/FolderScan.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Application.h"
#include "ui/ResizeWorker.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QSettings>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace pictavo::ui {
namespace {

using uitest::Click;

// A form whose list holds `count` pictures of w x h, scanned over `dir`.
void Scan(TMain_Form& f, const test::ScratchDir& dir, int count, int w, int h)
{
    const std::vector<std::uint8_t> jpeg = test::MakeJpeg(w, h, test::Gradient);
    for (int i = 0; i < count; ++i) test::WriteBytes(dir.file("in" + std::to_string(100 + i) + ".jpg"), jpeg);
    f.chooseFile = [&dir](QWidget*, InputFormat) { return QString::fromStdString(dir.file("in100.jpg")); };
    f.chooseFolderClick();
}

// Every row of the state table, with the file dialog stood in for.
TEST(MainForm, StatesFromFreshToScannedRunningAndDone)
{
    test::ScratchDir dir;
    for (const char* name : {"b.jpg", "a.jpg"})
        test::WriteBytes(dir.file(name), test::MakeJpeg(320, 240, test::Gradient));
    TMain_Form f;
    QString chosen;
    f.chooseFile = [&](QWidget*, InputFormat) { return chosen; };

    f.chooseFolderClick();  // cancelled: nothing changes
    EXPECT_EQ(f.PictureList->count(), 0);
    EXPECT_FALSE(f.ResizeButton->isEnabled());
    EXPECT_EQ(f.RunProgress->maximum(), 100);

    chosen = QString::fromStdString(dir.file("b.jpg"));
    f.chooseFolderClick();  // scanned
    ASSERT_EQ(f.PictureList->count(), 2);
    EXPECT_EQ(f.PictureList->item(0)->text(), "a.jpg");
    EXPECT_TRUE(f.ResizeButton->isEnabled());
    EXPECT_TRUE(f.DoneLabel->isHidden());
    EXPECT_EQ(f.RunProgress->maximum(), 2);

    f.SizeGroup->setItemIndex(5);
    f.SeriesEdit->setText(" Trip ");
    f.resizeClick();  // running, then done, as the tests below show
    ASSERT_TRUE(uitest::WaitForRun(f));
    ASSERT_EQ(f.PictureList->count(), 2);
    EXPECT_EQ(f.PictureList->item(1)->text(), "Trip02.jpg");
    EXPECT_TRUE(std::filesystem::exists(dir.file("Trip02.jpg")));

    // After a run, a double-click opens the written file, the name trimmed.
    QUrl opened;
    f.openUrl = [&](const QUrl& url) { opened = url; };
    f.PictureList->setCurrentRow(1);
    f.pictureDoubleClick();
    EXPECT_EQ(opened.toLocalFile().toStdString(), dir.file("Trip02.jpg"));

    // A scan finding nothing empties the list and keeps Resize as it was.
    test::ScratchDir empty;
    chosen = QString::fromStdString(empty.file("x.jpg"));
    f.chooseFolderClick();
    EXPECT_EQ(f.PictureList->count(), 0);
    EXPECT_FALSE(f.ResizeButton->isEnabled());
    opened = QUrl();
    f.pictureDoubleClick();
    EXPECT_TRUE(opened.isEmpty());
    // After a listing it stays enabled: a scan never disables it.
    chosen = QString::fromStdString(dir.file("b.jpg"));
    f.chooseFolderClick();
    chosen = QString::fromStdString(empty.file("x.jpg"));
    f.chooseFolderClick();
    EXPECT_TRUE(f.ResizeButton->isEnabled());
    EXPECT_TRUE(f.DoneLabel->isHidden());
    EXPECT_EQ(f.RunProgress->maximum(), 0);
}

// A picture that fails stops the run with an error box that names it, and
// leaves the inputs listed, ready to run again; a damaged one is written all
// the same, and after "Ok!" a warning names it. Each file is read by its
// content, whatever its name says.
TEST(MainForm, FailedAndDamagedPicturesAreShown)
{
    const std::vector<std::uint8_t> whole = test::MakeJpeg(320, 240, test::Gradient);
    const std::vector<std::uint8_t> bitmap =
        test::MakeBmp({.width = 3, .height = 2, .bits = 24, .pixels = std::vector<std::uint8_t>(24)});
    struct Case { std::vector<std::uint8_t> second; QString shown; bool done; const char* listed; };
    const Case cases[] = {
        {{0, 0, 0, 0}, "JPEG error #52.\n\nb.jpg: JPEG error #52: Not a JPEG file: starts with 0x00 0x00.", false, "b.jpg"},
        {{'B', 'M'}, "Stream read error.\n\nb.jpg: Stream read error. (the file holds a BMP picture)", false, "b.jpg"},
        {bitmap, "", true, "RurOdi02.jpg"},
        {std::vector<std::uint8_t>(whole.begin(), whole.begin() + whole.size() / 2),
         "These pictures are damaged; each was written as far as it could be read:\n\nb.jpg", true, "RurOdi02.jpg"},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        test::WriteBytes(dir.file("a.jpg"), whole);
        test::WriteBytes(dir.file("b.jpg"), c.second);
        TMain_Form f;
        f.chooseFile = [&](QWidget*, InputFormat) { return QString::fromStdString(dir.file("a.jpg")); };
        QStringList shown;
        SetErrorSink([&](const QString& message) { shown << message; });
        f.ChooseFolderButton->click();
        f.ResizeButton->click();
        ASSERT_TRUE(uitest::WaitForRun(f));
        SetErrorSink({});
        EXPECT_EQ(shown, c.shown.isEmpty() ? QStringList() : QStringList({c.shown}));
        EXPECT_EQ(f.PictureList->item(1)->text().toStdString(), c.listed);
        EXPECT_EQ(f.DoneLabel->isHidden(), !c.done);
        EXPECT_EQ(f.ResizeButton->isEnabled(), !c.done);
        EXPECT_EQ(f.RunProgress->value(), 0);
        if (c.done) continue;
        // The same list runs again once the picture is mended.
        test::WriteBytes(dir.file("b.jpg"), whole);
        f.ResizeButton->click();
        ASSERT_TRUE(uitest::WaitForRun(f));
        EXPECT_EQ(f.PictureList->item(1)->text(), "RurOdi02.jpg");
    }
}

// A second run in the same folder lists only the photos: the earlier
// outputs are recognised and replaced.
TEST(MainForm, ASecondRunInTheSameFolderReplacesItsOutputs)
{
    test::ScratchDir dir;
    TMain_Form f;
    Scan(f, dir, 2, 320, 240);
    for (int run = 0; run < 2; ++run) {
        QStringList shown;
        SetErrorSink([&](const QString& message) { shown << message; });
        f.chooseFolderClick();
        EXPECT_EQ(f.PictureList->count(), 2) << run;
        f.ResizeButton->click();
        ASSERT_TRUE(uitest::WaitForRun(f));
        SetErrorSink({});
        EXPECT_TRUE(shown.isEmpty()) << shown.join("|").toStdString();
        EXPECT_FALSE(f.DoneLabel->isHidden()) << run;
    }
}

// The output folder, the count in words, and the choices kept from one
// start to the next; a value that no longer makes sense keeps the default.
TEST(MainForm, OutputFolderCountAndKeptSettings)
{
    test::ScratchDir dir, out;
    {
        TMain_Form f;
        Scan(f, dir, 3, 320, 240);
        f.chooseOutputFolder = [&](QWidget*, const QString& start) {
            EXPECT_EQ(start.toStdString(), dir.path().string() + "/");
            return QString::fromStdString(out.path());
        };
        f.OutputFolderButton->click();
        EXPECT_EQ(f.OutputFolderPath->toolTip().toStdString(), out.path().string() + "/");
        QStringList counts;
        QObject::connect(f.RunProgress, &QProgressBar::valueChanged, [&] { counts << f.ProgressCount->text(); });
        f.InputFormatGroup->setItemIndex(2);
        f.SizeGroup->setItemIndex(4);
        f.SharpenBox->setChecked(true);
        f.SeriesEdit->setText("Shop");
        f.OutputFormatBox->setCurrentIndex(4);
        f.KeepMetadataBox->setChecked(true);
        f.ResizeButton->click();
        EXPECT_EQ(f.model().metadata, MetadataPolicy::Safe);
        ASSERT_TRUE(uitest::WaitForRun(f));
        EXPECT_EQ(counts, QStringList({"1 / 3", "2 / 3", "3 / 3"}));
        EXPECT_TRUE(f.ProgressCount->text().isEmpty());
        EXPECT_TRUE(std::filesystem::exists(out.file("Shop03.png")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("Shop01.jpg")));
        f.saveSettings();
    }
    struct Case { std::function<void(QSettings&)> spoil; int input; QString series; QString folder; int format; };
    const Case cases[] = {
        {[](QSettings&) {}, 2, "Shop", QString::fromStdString(out.path().string() + "/"), 4},
        {[&](QSettings& s) {
             s.setValue("input", 7), s.setValue("series", "  "), s.setValue("outputFormat", "gif");
             s.setValue("outputFolder", QString::fromStdString(out.file("gone")));
         },
         0, "RurOdi", "", 0},
    };
    for (const Case& c : cases) {
        {
            QSettings settings("pictavo", QApplication::applicationName());
            c.spoil(settings);
        }
        TMain_Form g;
        g.restoreSettings();
        EXPECT_EQ(g.InputFormatGroup->itemIndex(), c.input);
        EXPECT_EQ(g.SizeGroup->itemIndex(), 4);
        EXPECT_TRUE(g.SharpenBox->isChecked());
        EXPECT_EQ(g.SeriesEdit->text(), c.series);
        EXPECT_EQ(g.OutputFolderPath->toolTip(), c.folder);
        EXPECT_EQ(g.OutputFormatBox->currentIndex(), c.format);
        EXPECT_TRUE(g.KeepMetadataBox->isChecked());
    }
    QSettings("pictavo", QApplication::applicationName()).clear();
}

// A folder or pictures dropped on the window are taken as if chosen in the
// dialog, with the input choice that lists them; during a run, refused.
TEST(MainForm, DroppedFoldersAndPicturesAreTakenAsChosen)
{
    test::ScratchDir dir;
    const std::vector<std::uint8_t> jpeg = test::MakeJpeg(64, 48, test::Gradient);
    for (const char* name : {"a.jpg", "b.JPG", "c.bmp", "d.png"}) test::WriteBytes(dir.file(name), jpeg);
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(QString::fromStdString(dir.file(name))); };
    struct Case { QList<QUrl> urls; int input; int listed; };
    const Case cases[] = {
        {{url("a.jpg"), url("b.JPG")}, 0, 2},
        {{url("c.bmp")}, 1, 1},
        {{url("a.jpg"), url("d.png")}, 2, 4},
        {{QUrl::fromLocalFile(QString::fromStdString(dir.path()))}, 0, 2},  // the folder, with the choice as it is
    };
    for (const Case& c : cases) {
        TMain_Form f;
        f.show();  // a drop site once its window exists
        QMimeData data;
        data.setUrls(c.urls);
        QDragEnterEvent enter(QPoint(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &drop);
        EXPECT_EQ(f.InputFormatGroup->itemIndex(), c.input);
        EXPECT_EQ(f.PictureList->count(), c.listed);
        EXPECT_EQ(f.model().imageFolder, dir.path().string() + "/");
    }
    TMain_Form f;
    EXPECT_FALSE(f.takeDropped({QUrl::fromLocalFile("/nonexistent/x.jpg")}));
    Scan(f, dir, 6, 1600, 1200);
    f.ResizeButton->click();
    EXPECT_FALSE(f.takeDropped({url("c.bmp")}));
    ASSERT_TRUE(uitest::WaitForRun(f));
    EXPECT_EQ(f.InputFormatGroup->itemIndex(), 0);
}

// The run goes on a worker: the click returns at once, and what the run
// reports arrives in order while the window keeps taking events.
TEST(MainForm, TheRunReportsInOrderFromTheBackground)
{
    test::ScratchDir dir;
    TMain_Form f;
    Scan(f, dir, 4, 320, 240);
    std::vector<std::string> events;
    QObject::connect(f.RunProgress, &QProgressBar::valueChanged, [&](int v) {
        events.push_back("progress " + std::to_string(v) + (f.DoneLabel->isVisible() ? " ok" : ""));
    });
    f.beep = [&] { events.push_back("beep"); };
    QObject::connect(&f, &TMain_Form::runFinished, [&] { events.push_back(f.DoneLabel->isHidden() ? "end" : "end ok"); });
    f.ResizeButton->click();
    EXPECT_TRUE(f.running());
    EXPECT_FALSE(f.ResizeButton->isEnabled());
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(uitest::WaitForRun(f));
    EXPECT_EQ(events, (std::vector<std::string>{"progress 1", "progress 2", "progress 3", "beep", "progress 0", "end ok"}));
}

// During the run only moving, minimising and closing are open; nothing
// else is acted on, then or later.
TEST(MainForm, InputDuringTheRunIsRefusedNotQueued)
{
    test::ScratchDir dir;
    TMain_Form f;
    f.show();
    Scan(f, dir, 12, 1600, 1200);
    int scans = 0, opened = 0;
    f.chooseFile = [&](QWidget*, InputFormat) { return ++scans, QString(); };
    f.openUrl = [&](const QUrl&) { ++opened; };
    QRadioButton* thirty = f.QualityGroup->findChildren<QRadioButton*>().at(4);
    const auto tryEverything = [&] {
        Click(thirty);
        Click(f.SharpenBox);
        Click(f.ChooseFolderButton);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
        QApplication::sendEvent(f.SeriesEdit, &key);
        f.PictureList->setCurrentRow(0);
        const QPoint at = f.PictureList->visualItemRect(f.PictureList->item(0)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease})
            uitest::SendMouse(f.PictureList->viewport(), type, at, Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton);
    };
    f.ResizeButton->click();
    ASSERT_TRUE(f.running());
    tryEverything();
    const QPoint before = f.pos();
    uitest::SendMouse(f.Skin, QEvent::MouseButtonPress, {100, 150}, Qt::LeftButton, Qt::LeftButton);
    uitest::SendMouse(f.Skin, QEvent::MouseMove, {110, 160}, Qt::NoButton, Qt::LeftButton);
    uitest::SendMouse(f.Skin, QEvent::MouseButtonRelease, {110, 160}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(f.pos() - before, QPoint(10, 10));  // the window still moves
    Click(f.MinimizeSpot);
    EXPECT_TRUE(f.isMinimized());
    EXPECT_TRUE(f.running());
    ASSERT_TRUE(uitest::WaitForRun(f));
    f.showNormal();
    EXPECT_EQ(f.QualityGroup->itemIndex(), 1);
    EXPECT_FALSE(f.SharpenBox->isChecked());
    EXPECT_EQ(f.SeriesEdit->text(), "RurOdi");
    EXPECT_EQ(scans + opened, 0);
    // The same input is taken once the run is over.
    tryEverything();
    EXPECT_EQ(f.QualityGroup->itemIndex(), 4);
    EXPECT_TRUE(f.SharpenBox->isChecked());
    EXPECT_EQ(f.SeriesEdit->text(), "RurOdix");
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(opened, 1);
}

// Close during the run: the pictures in flight are abandoned, no error shows,
// and every file left is a whole output or an input.
TEST(MainForm, CloseDuringTheRunLeavesOnlyWholeFiles)
{
    test::ScratchDir dir;
    TMain_Form f;
    f.show();
    const int count = 24;
    Scan(f, dir, count, 1200, 900);
    QStringList shown;
    SetErrorSink([&](const QString& message) { shown << message; });
    QSignalSpy progress(f.RunProgress, &QProgressBar::valueChanged);
    f.ResizeButton->click();
    ASSERT_TRUE(progress.wait(20000));  // two pictures written
    Click(f.CloseSpot);
    EXPECT_TRUE(f.isVisible());  // until the run has stopped
    ASSERT_TRUE(uitest::WaitForRun(f));
    SetErrorSink({});
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(shown.isEmpty());
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (const std::string name = entry.path().filename().string(); name.rfind("in", 0) != 0 && name != ".pictavo.record")
            written.insert(name);
    const int outputs = static_cast<int>(written.size());
    for (int i = 0; i < outputs; ++i) {
        // Only outputs, a run of them from the first, and no temporary file.
        ASSERT_TRUE(written.count(OutputName("RurOdi", i))) << *written.rbegin();
        TJPEGImage out;
        out.loadFromFile(dir.file(OutputName("RurOdi", i)));
        Raster24 pixels;
        EXPECT_NO_THROW(out.decodeInto(pixels));
        EXPECT_EQ(out.width(), 800);
    }
    EXPECT_GE(outputs, 2);
    EXPECT_LT(outputs, count);  // it did stop
}

// A worker runs once: a second start would run a second thread over the one model.
TEST(ResizeWorker, ASecondStartIsRefused)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("a.jpg"), test::MakeJpeg(64, 48, test::Gradient));
    BatchModel model;
    model.sizeIndex = 5;
    ScanFolder(model, dir.file("a.jpg"));
    ResizeWorker worker(model, {});
    QSignalSpy finished(&worker, &ResizeWorker::finished);
    EXPECT_TRUE(worker.start());
    EXPECT_FALSE(worker.start());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(worker.start());
    EXPECT_FALSE(finished.wait(200));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(worker.result().names, std::vector<std::string>{"RurOdi01.jpg"});
}

}  // namespace
}  // namespace pictavo::ui
