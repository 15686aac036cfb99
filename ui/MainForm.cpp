#include "ui/MainForm.h"

#include "batch/FolderScan.h"
#include "batch/ResizeRun.h"
#include "ui/AboutForm.h"
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/PictureDialog.h"
#include "ui/ResizeWorker.h"

#include "codecs/OutputFormats.h"
#include "codecs/PictureFormats.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QRegion>
#include <QSettings>
#include <QThread>

namespace pictavo::ui {
namespace {

// The window's captions of the quality and input choices, in the model's order.
constexpr std::array<const char*, 5> QualityCaptions = {"90%", "75%", "60%", "50%", "30%"};
static_assert(QualityCaptions.size() == QualityPresets.size());
constexpr std::array<const char*, 2> FormatCaptions = {"JPG  -> JPG", "BMP -> JPG"};

QStringList Captions(const auto& captions)
{
    QStringList out;
    for (const char* c : captions) out << c;
    return out;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, const QRect& geometry, const QString& hint,
                        const char* objectName)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(hint);
    button->setToolTipDuration(2500);
    button->setAutoDefault(false);  // Enter starts nothing
    return button;
}

// Today's steps fill the window down to StripTop; the strip below holds
// the output choices.
constexpr int StripTop = 287;
constexpr int WindowHeight = 343;

// The window's choices are kept in ~/.config/pictavo/<program>.conf.
constexpr const char* SettingsOrganization = "pictavo";

// A folder path as the strip shows it: "/" at the end, elided in the middle.
QString ElidedFolder(const QLabel* label, const QString& folder)
{
    return label->fontMetrics().elidedText(QDir::toNativeSeparators(folder), Qt::ElideMiddle,
                                           label->contentsRect().width());
}

QString WithSlash(const QString& folder)
{
    return folder.endsWith('/') ? folder : folder + '/';
}

}  // namespace

QPolygon WindowOutline()
{
    constexpr int b = WindowHeight;
    return QPolygon({{6, 0}, {429, 0}, {432, 2}, {434, 6}, {434, b - 9}, {432, b - 3}, {427, b},
                     {7, b}, {2, b - 3}, {0, b - 7}, {0, 6}, {2, 2}, {6, 0}});
}

InputFormat FormatForFiles(const QStringList& paths)
{
    const auto all = [&paths](const PictureKind& kind) {
        return !paths.isEmpty() && std::all_of(paths.begin(), paths.end(), [&kind](const QString& path) {
            return KindOfName(path.toStdString(), true) == &kind;
        });
    };
    if (all(JpegKind())) return InputFormat::Jpeg;
    if (all(BitmapKind())) return InputFormat::Bitmap;
    return InputFormat::Auto;
}

TMain_Form::TMain_Form() : QWidget(nullptr, Qt::FramelessWindowHint)
{
    setObjectName("Main_Form");
    setWindowTitle("Pictavo");
    setFixedSize(436, WindowHeight);
    setAcceptDrops(true);
    move(239, 219);
    setFont(PixelFont("MS Sans Serif", 11));

    chooseFile = [this](QWidget* parent, InputFormat format) {
        PictureOpenDialog dialog(parent, format);
        if (!lastFolder_.isEmpty()) dialog.setDirectory(lastFolder_);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                        : QString();
    };
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    beep = [] { QApplication::beep(); };
    chooseOutputFolder = [](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, "Choose Output Folder", start,
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    };

    createControls();
    createStrip();
    colourControls();
    connectHandlers();
    // The outline; odd-even fill. Outside it the window is neither drawn nor hit.
    setMask(QRegion(WindowOutline(), Qt::OddEvenFill));
    ChooseFolderButton->setFocus();
}

TMain_Form::~TMain_Form()
{
    // A run still going is stopped and waited for as its worker goes.
    if (running()) QGuiApplication::restoreOverrideCursor();
}

void TMain_Form::createControls()
{
    // Graphic controls first, so every windowed control lies above them.
    Skin = new BackgroundPicture(this, /*movesWindow=*/true);
    Skin->setObjectName("Skin");
    Skin->setGeometry(0, 0, 436, WindowHeight);
    Skin->setPicture(StoredPicture(":/artwork/main_skin.bin"));

    const QFont regular = PixelFont("MS Sans Serif", 11);
    const QFont bold = PixelFont("MS Sans Serif", 11, true);
    const QFont step = PixelFont("MS Sans Serif", 13, true);
    ListCaption = MakeLabel(this, "List of Images", QRect(12, 56, 80, 13), bold, DarkGrey, "ListCaption");
    DoneLabel = MakeLabel(this, "Ok!", QRect(216, 20, 21, 16), PixelFont("Arial", 13, true), Green, "DoneLabel");
    DoneLabel->hide();
    SeriesCaption = MakeLabel(this, "New series name", QRect(260, 110, 81, 13), regular, DarkGrey, "SeriesCaption");
    AboutSpot = new HotSpot(this, QRect(384, 8, 13, 13), "About this program", "AboutSpot");
    MinimizeSpot = new HotSpot(this, QRect(399, 8, 13, 13), "Minimize", "MinimizeSpot");
    CloseSpot = new HotSpot(this, QRect(414, 8, 13, 13), " Close ", "CloseSpot");
    Step2Label = MakeLabel(this, "2", QRect(246, 82, 9, 16), step, DarkGrey, "Step2Label");
    Step3Label = MakeLabel(this, "3", QRect(246, 109, 9, 16), step, DarkGrey, "Step3Label");
    Step4Label = MakeLabel(this, "4", QRect(246, 132, 9, 16), step, DarkGrey, "Step4Label");
    Step5Label = MakeLabel(this, "5", QRect(246, 256, 9, 16), step, DarkGrey, "Step5Label");
    Step1Label = MakeLabel(this, "1", QRect(246, 30, 9, 16), step, DarkGrey, "Step1Label");

    ChooseFolderButton = MakeButton(this, "Select Folder with Images", QRect(260, 80, 165, 21), "Choose any image from the folder",
                         "ChooseFolderButton");
    PictureList = new QListWidget(this);
    PictureList->setObjectName("PictureList");
    PictureList->setGeometry(12, 72, 225, 205);
    PictureList->setSelectionMode(QAbstractItemView::SingleSelection);
    PictureList->setSortingEnabled(false);
    PictureList->setUniformItemSizes(true);
    PictureList->setStyleSheet("QListWidget::item { height: 13px; padding: 0px; }");
    ResizeButton = MakeButton(this, "Resize", QRect(260, 256, 165, 21), "Start processing", "ResizeButton");
    ResizeButton->setEnabled(false);
    SizeGroup = new RadioGroup(this, " Image Size ", Captions(SizeCaptions), 1, QRect(260, 132, 79, 97), "SizeGroup");
    QualityGroup = new RadioGroup(this, " Quality ", Captions(QualityCaptions), 1, QRect(344, 132, 81, 97), "QualityGroup");
    RunProgress = new QProgressBar(this);
    RunProgress->setObjectName("RunProgress");
    RunProgress->setGeometry(12, 40, 225, 10);
    RunProgress->setRange(0, 100);
    RunProgress->setValue(0);
    RunProgress->setTextVisible(false);
    RunProgress->setFocusPolicy(Qt::NoFocus);
    SeriesEdit = new QLineEdit(DefaultSeries, this);
    SeriesEdit->setObjectName("SeriesEdit");
    SeriesEdit->setGeometry(352, 106, 73, 21);
    SeriesEdit->setFont(bold);
    InputFormatGroup = new RadioGroup(this, " Select Input Picture Format ", Captions(FormatCaptions), 0,
                                 QRect(260, 28, 165, 46), "InputFormatGroup");
    // Beside the two, on the first one's line: every format the program reads.
    QRadioButton* all = InputFormatGroup->addItem("All pictures", QRect(91, 13, 72, 15));
    all->setStyleSheet("QRadioButton { spacing: 4px; }");  // room for the caption inside the frame
    all->setToolTip("Every picture format Pictavo reads, each file by its content");
    SharpenBox = new QCheckBox("Sharpening", this);
    SharpenBox->setObjectName("SharpenBox");
    SharpenBox->setGeometry(260, 236, 97, 17);

    setTabOrder(ChooseFolderButton, PictureList);
    setTabOrder(PictureList, ResizeButton);
    setTabOrder(ResizeButton, SizeGroup);
    setTabOrder(SizeGroup, QualityGroup);
    setTabOrder(QualityGroup, SeriesEdit);
    setTabOrder(SeriesEdit, InputFormatGroup);
    setTabOrder(InputFormatGroup, SharpenBox);
}

void TMain_Form::createStrip()
{
    const QFont regular = PixelFont("MS Sans Serif", 11);
    const QFont bold = PixelFont("MS Sans Serif", 11, true);
    ProgressCount = MakeLabel(this, "", QRect(120, 26, 92, 13), regular, DarkGrey, "ProgressCount");
    ProgressCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    constexpr int top = StripTop + 6;
    OutputFolderCaption = MakeLabel(this, "Output Folder", QRect(12, top, 120, 13), bold, DarkGrey, "OutputFolderCaption");
    OutputFolderPath = new QLabel(this);
    OutputFolderPath->setObjectName("OutputFolderPath");
    OutputFolderPath->setGeometry(12, top + 16, 175, 21);
    OutputFolderPath->setFrameShape(QFrame::StyledPanel);
    OutputFolderPath->setFrameShadow(QFrame::Sunken);
    OutputFolderPath->setFont(regular);
    OutputFolderPath->setIndent(3);
    OutputFolderPath->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const auto toolButton = [this](const char* text, int left, int y, const char* hint, const char* name) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setText(text);
        button->setGeometry(left, y, 23, 21);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(hint);
        return button;
    };
    OutputFolderButton =
        toolButton("...", 189, top + 16, "Choose the folder the pictures are written to", "OutputFolderButton");
    OutputFolderReset = toolButton("x", 214, top + 16, "Write beside the originals", "OutputFolderReset");
    setOutputFolder({});

    OutputFormatCaption = MakeLabel(this, "Write as", QRect(260, top + 3, 48, 13), regular, DarkGrey, "OutputFormatCaption");
    OutputFormatBox = new QComboBox(this);
    OutputFormatBox->setObjectName("OutputFormatBox");
    OutputFormatBox->setGeometry(310, top, 115, 21);
    OutputFormatBox->setFont(regular);
    OutputFormatBox->setCursor(Qt::PointingHandCursor);
    OutputFormatBox->setToolTip("The format of the written pictures; JPEG keeps the classic series");
    for (const OutputFormat& format : OutputFormats()) OutputFormatBox->addItem(format.title, format.name);

    KeepMetadataBox = new QCheckBox("Keep copyright and date", this);
    KeepMetadataBox->setObjectName("KeepMetadataBox");
    KeepMetadataBox->setGeometry(260, top + 25, 165, 17);
    KeepMetadataBox->setFont(regular);
    KeepMetadataBox->setToolTip("Keep the photographer, copyright, description, capture date and camera settings;\n"
                                "the place the photo was taken, serial numbers and owner are never kept");

    setTabOrder(SharpenBox, OutputFolderButton);
    setTabOrder(OutputFolderButton, OutputFolderReset);
    setTabOrder(OutputFolderReset, OutputFormatBox);
    setTabOrder(OutputFormatBox, KeepMetadataBox);
}

void TMain_Form::setOutputFolder(const QString& folder)
{
    outputFolder_ = folder.isEmpty() ? QString() : WithSlash(folder);
    const QString shown = outputFolder_.isEmpty() ? QString("Beside the originals") : outputFolder_;
    OutputFolderPath->setText(ElidedFolder(OutputFolderPath, shown));
    OutputFolderPath->setToolTip(outputFolder_.isEmpty() ? QString() : QDir::toNativeSeparators(outputFolder_));
    OutputFolderReset->setEnabled(!outputFolder_.isEmpty());
}

void TMain_Form::chooseOutputFolderClick()
{
    const QString start = !outputFolder_.isEmpty() ? outputFolder_ : QString::fromStdString(model_.imageFolder);
    const QString chosen = chooseOutputFolder(this, start);
    if (!chosen.isEmpty()) setOutputFolder(chosen);
}

void TMain_Form::showProgress(int position)
{
    runState_.progressPosition = position;
    RunProgress->setValue(position);
    // The bar holds the index of the picture just written, and goes back to
    // 0 at the end; the words count what is done.
    written_ = std::max(written_, position + 1);
    ProgressCount->setText(QString("%1 / %2").arg(written_).arg(RunProgress->maximum()));
}

void TMain_Form::colourControls()
{
    QPalette silver = palette();
    silver.setColor(QPalette::Window, Silver);
    setPalette(silver);
    setAutoFillBackground(true);
    // Texts are dark grey unless said otherwise; the list keeps the window colours.
    for (QWidget* w : std::initializer_list<QWidget*>{ChooseFolderButton, ResizeButton, SeriesEdit, SharpenBox, KeepMetadataBox}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, Silver);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {  // disabled stays faint
            p.setColor(group, QPalette::WindowText, DarkGrey);
            p.setColor(group, QPalette::ButtonText, DarkGrey);
            p.setColor(group, QPalette::Text, DarkGrey);
        }
        w->setPalette(p);
    }
}

void TMain_Form::connectHandlers()
{
    const auto on = [this](auto* sender, auto signal, void (TMain_Form::*handler)()) {
        connect(sender, signal, this, [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
    };
    on(ChooseFolderButton, &QPushButton::clicked, &TMain_Form::chooseFolderClick);
    on(ResizeButton, &QPushButton::clicked, &TMain_Form::resizeClick);
    on(PictureList, &QListWidget::itemDoubleClicked, &TMain_Form::pictureDoubleClick);
    on(AboutSpot, &HotSpot::clicked, &TMain_Form::aboutClick);
    on(MinimizeSpot, &HotSpot::clicked, &TMain_Form::minimizeClick);
    on(CloseSpot, &HotSpot::clicked, &TMain_Form::closeClick);
    on(OutputFolderButton, &QToolButton::clicked, &TMain_Form::chooseOutputFolderClick);
    connect(OutputFolderReset, &QToolButton::clicked, this, [this] { setOutputFolder({}); });
}

void TMain_Form::readChoices()
{
    model_.format = static_cast<InputFormat>(InputFormatGroup->itemIndex());
    model_.sizeIndex = SizeGroup->itemIndex();
    model_.qualityIndex = QualityGroup->itemIndex();
    model_.sharpen = SharpenBox->isChecked();
    model_.series = SeriesEdit->text().toStdString();
    model_.outputFormat = &OutputFormats().at(std::max(0, OutputFormatBox->currentIndex()));
    model_.metadata = KeepMetadataBox->isChecked() ? MetadataPolicy::Safe : MetadataPolicy::None;
}

void TMain_Form::showModel()
{
    PictureList->clear();
    for (const std::string& name : model_.names) PictureList->addItem(QString::fromStdString(name));
    ResizeButton->setEnabled(runState_.resizeEnabled);
    DoneLabel->setVisible(runState_.doneVisible);
    RunProgress->setMaximum(runState_.progressMax);
    RunProgress->setValue(runState_.progressPosition);
}

void TMain_Form::scanned()
{
    const int n = static_cast<int>(model_.names.size());
    if (n > 0) runState_.resizeEnabled = true;  // a scan never disables it
    runState_.doneVisible = false;
    runState_.progressMax = n;
    runState_.progressPosition = 0;
    lastFolder_ = QString::fromStdString(model_.imageFolder);
    showModel();
}

void TMain_Form::chooseFolderClick()
{
    readChoices();
    const QString chosen = chooseFile(this, model_.format);
    if (chosen.isEmpty()) return;  // cancelled: nothing changes
    ScanFolder(model_, chosen.toStdString());
    scanned();
}

void TMain_Form::resizeClick()
{
    if (running()) return;
    readChoices();  // read once: no control can change while the run lasts
    runState_.resizeEnabled = false;
    ResizeButton->setEnabled(false);
    RunOptions options;
    options.jobs = std::max(1, QThread::idealThreadCount());
    // In list order, so the bar moves picture by picture.
    options.costliestFirst = false;
    options.outputFolder = outputFolder_.toStdString();
    worker_ = std::make_unique<ResizeWorker>(model_, options);
    ProgressCount->clear();
    written_ = 0;
    connect(worker_.get(), &ResizeWorker::progressChanged, this, &TMain_Form::showProgress);
    connect(worker_.get(), &ResizeWorker::beeped, this, [this] { beep(); });
    damaged_.clear();
    connect(worker_.get(), &ResizeWorker::damaged, this, [this](const QString& input) { damaged_ << input; });
    connect(worker_.get(), &ResizeWorker::finished, this, &TMain_Form::endRun);
    // Only moving, minimising and closing stay open to the user.
    qApp->installEventFilter(this);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    worker_->start();
}

void TMain_Form::endRun(RunEnd end, const QString& error, const QString& detail)
{
    model_ = worker_->result();
    worker_.release()->deleteLater();  // it is still delivering this report
    qApp->removeEventFilter(this);
    QGuiApplication::restoreOverrideCursor();
    // After a failure the list still holds the inputs: the same run can be started again.
    if (end == RunEnd::Failed) runState_.resizeEnabled = !model_.names.empty();
    runState_.doneVisible = end == RunEnd::Done;
    ProgressCount->clear();
    showModel();  // the state the run reached
    emit runFinished();
    if (closeAfterRun_) {
        close();
        return;
    }
    if (end == RunEnd::Failed) ShowError(error, detail);
    // Damaged pictures were written as far as they could be read; say which.
    if (end == RunEnd::Done && !damaged_.isEmpty())
        ShowWarning("These pictures are damaged; each was written as far as it could be read:\n\n" +
                    damaged_.join("\n"));
}

bool TMain_Form::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu: {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window() != this) return false;
        return widget != Skin && widget != MinimizeSpot && widget != CloseSpot;  // dropped, not queued
    }
    default:
        return false;
    }
}

void TMain_Form::closeEvent(QCloseEvent* event)
{
    if (running()) {
        // Pictures in flight are finished or dropped first; then the window closes.
        closeAfterRun_ = true;
        worker_->stop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TMain_Form::dragEnterEvent(QDragEnterEvent* event)
{
    if (!running() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMain_Form::dropEvent(QDropEvent* event)
{
    RunHandler([&] {
        if (takeDropped(event->mimeData()->urls())) event->acceptProposedAction();
    });
}

bool TMain_Form::takeDropped(const QList<QUrl>& urls)
{
    if (running()) return false;
    QStringList files;
    QString folder;
    for (const QUrl& url : urls) {
        const QFileInfo info(url.toLocalFile());
        if (!url.isLocalFile() || !info.exists()) continue;
        if (info.isDir()) {
            if (folder.isEmpty()) folder = info.absoluteFilePath();
        } else {
            files << info.absoluteFilePath();
        }
    }
    if (!files.isEmpty()) {
        // Pictures: their folder, listed with the choice that shows them all.
        folder = QFileInfo(files.first()).absolutePath();
        InputFormatGroup->setItemIndex(static_cast<int>(FormatForFiles(files)));
    }
    if (folder.isEmpty()) return false;
    readChoices();
    ScanFolder(model_, WithSlash(folder).toStdString());
    scanned();
    return true;
}

void TMain_Form::restoreSettings()
{
    QSettings settings(SettingsOrganization, QApplication::applicationName());
    // A value out of range or of the wrong kind leaves the control as it is.
    const auto index = [&settings](const char* key, RadioGroup* group) {
        bool ok = false;
        const int i = settings.value(key).toInt(&ok);
        if (ok && i >= 0 && i < group->items().size()) group->setItemIndex(i);
    };
    index("input", InputFormatGroup);
    index("size", SizeGroup);
    index("quality", QualityGroup);
    if (settings.contains("sharpen")) SharpenBox->setChecked(settings.value("sharpen").toBool());
    if (settings.contains("keepMetadata")) KeepMetadataBox->setChecked(settings.value("keepMetadata").toBool());
    if (const QString series = settings.value("series").toString(); !series.trimmed().isEmpty()) SeriesEdit->setText(series);
    if (const int format = OutputFormatBox->findData(settings.value("outputFormat").toString()); format >= 0)
        OutputFormatBox->setCurrentIndex(format);
    if (const QString out = settings.value("outputFolder").toString(); !out.isEmpty() && QFileInfo(out).isDir())
        setOutputFolder(out);
    if (const QString last = settings.value("lastFolder").toString(); !last.isEmpty() && QFileInfo(last).isDir())
        lastFolder_ = WithSlash(last);
}

void TMain_Form::saveSettings() const
{
    QSettings settings(SettingsOrganization, QApplication::applicationName());
    settings.setValue("input", InputFormatGroup->itemIndex());
    settings.setValue("size", SizeGroup->itemIndex());
    settings.setValue("quality", QualityGroup->itemIndex());
    settings.setValue("sharpen", SharpenBox->isChecked());
    settings.setValue("keepMetadata", KeepMetadataBox->isChecked());
    settings.setValue("series", SeriesEdit->text());
    settings.setValue("outputFormat", OutputFormatBox->currentData());
    settings.setValue("outputFolder", outputFolder_);
    settings.setValue("lastFolder", lastFolder_);
}

void TMain_Form::pictureDoubleClick()
{
    const int index = PictureList->currentRow();
    if (index < 0) return;
    const std::string path = Trim(model_.imageFolder + PictureList->item(index)->text().toStdString());
    openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TMain_Form::aboutClick()
{
    if (aboutForm_ != nullptr) aboutForm_->showModal();
}

void TMain_Form::minimizeClick()
{
    showMinimized();
}

void TMain_Form::closeClick()
{
    close();
}

}  // namespace pictavo::ui
