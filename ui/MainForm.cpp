#include "ui/MainForm.h"

#include "batch/FolderScan.h"
#include "batch/ResizeRun.h"
#include "ui/AboutForm.h"
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/PictureDialog.h"
#include "ui/ResizeWorker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QRegion>
#include <QThread>

namespace pictavo::ui {
namespace {

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

}  // namespace

QPolygon WindowOutline()
{
    return QPolygon({{6, 0}, {429, 0}, {432, 2}, {434, 6}, {434, 278}, {432, 284}, {427, 287},
                     {7, 287}, {2, 284}, {0, 280}, {0, 6}, {2, 2}, {6, 0}});
}

TMain_Form::TMain_Form() : QWidget(nullptr, Qt::FramelessWindowHint)
{
    setObjectName("Main_Form");
    setWindowTitle("Pictavo");
    setFixedSize(436, 287);
    move(239, 219);
    setFont(PixelFont("MS Sans Serif", 11));

    chooseFile = [](QWidget* parent, InputFormat format) {
        PictureOpenDialog dialog(parent, format);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                        : QString();
    };
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    beep = [] { QApplication::beep(); };

    createControls();
    colourControls();
    connectHandlers();
    // The outline; odd-even fill. Outside it the window is neither drawn nor hit.
    setMask(QRegion(WindowOutline(), Qt::OddEvenFill));
    Button6->setFocus();
}

TMain_Form::~TMain_Form()
{
    // A run still going is stopped and waited for as its worker goes.
    if (running()) QGuiApplication::restoreOverrideCursor();
}

void TMain_Form::createControls()
{
    // Graphic controls first, so every windowed control lies above them.
    Image1 = new BackgroundPicture(this, /*movesWindow=*/true);
    Image1->setObjectName("Image1");
    Image1->setGeometry(0, 0, 436, 287);
    Image1->setPicture(StoredPicture(":/artwork/main_skin.bin"));

    const QFont regular = PixelFont("MS Sans Serif", 11);
    const QFont bold = PixelFont("MS Sans Serif", 11, true);
    const QFont step = PixelFont("MS Sans Serif", 13, true);
    Label1 = MakeLabel(this, "List of Images", QRect(12, 56, 80, 13), bold, DarkGrey, "Label1");
    Label2 = MakeLabel(this, "Ok!", QRect(216, 20, 21, 16), PixelFont("Arial", 13, true), Green, "Label2");
    Label2->hide();
    Label3 = MakeLabel(this, "New series name", QRect(260, 110, 81, 13), regular, DarkGrey, "Label3");
    Image2 = new HotSpot(this, QRect(384, 8, 13, 13), "About this program", "Image2");
    Image3 = new HotSpot(this, QRect(399, 8, 13, 13), "Minimize", "Image3");
    Image4 = new HotSpot(this, QRect(414, 8, 13, 13), " Close ", "Image4");
    Label7 = MakeLabel(this, "2", QRect(246, 82, 9, 16), step, DarkGrey, "Label7");
    Label8 = MakeLabel(this, "3", QRect(246, 109, 9, 16), step, DarkGrey, "Label8");
    Label9 = MakeLabel(this, "4", QRect(246, 132, 9, 16), step, DarkGrey, "Label9");
    Label11 = MakeLabel(this, "5", QRect(246, 256, 9, 16), step, DarkGrey, "Label11");
    Label4 = MakeLabel(this, "1", QRect(246, 30, 9, 16), step, DarkGrey, "Label4");

    Button6 = MakeButton(this, "Select Folder with Images", QRect(260, 80, 165, 21), "Choose any image from the folder",
                         "Button6");
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setGeometry(12, 72, 225, 205);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setStyleSheet("QListWidget::item { height: 13px; padding: 0px; }");
    Button1 = MakeButton(this, "Resize", QRect(260, 256, 165, 21), "Start processing", "Button1");
    Button1->setEnabled(false);
    RadioGroup1 = new RadioGroup(this, " Image Size ", Captions(SizeCaptions), 1, QRect(260, 132, 79, 97), "RadioGroup1");
    RadioGroup2 = new RadioGroup(this, " Quality ", Captions(QualityCaptions), 1, QRect(344, 132, 81, 97), "RadioGroup2");
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(12, 40, 225, 10);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    Edit1 = new QLineEdit("RurOdi", this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(352, 106, 73, 21);
    Edit1->setFont(bold);
    RadioGroup3 = new RadioGroup(this, " Select Input Picture Format ", Captions(FormatCaptions), 0,
                                 QRect(260, 28, 165, 46), "RadioGroup3");
    CheckBox1 = new QCheckBox("Sharpening", this);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(260, 236, 97, 17);

    setTabOrder(Button6, ListBox1);
    setTabOrder(ListBox1, Button1);
    setTabOrder(Button1, RadioGroup1);
    setTabOrder(RadioGroup1, RadioGroup2);
    setTabOrder(RadioGroup2, Edit1);
    setTabOrder(Edit1, RadioGroup3);
    setTabOrder(RadioGroup3, CheckBox1);
}

void TMain_Form::colourControls()
{
    QPalette silver = palette();
    silver.setColor(QPalette::Window, Silver);
    setPalette(silver);
    setAutoFillBackground(true);
    // Texts are dark grey unless said otherwise; the list keeps the window colours.
    for (QWidget* w : std::initializer_list<QWidget*>{Button6, Button1, Edit1, CheckBox1}) {
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
    on(Button6, &QPushButton::clicked, &TMain_Form::Button6Click);
    on(Button1, &QPushButton::clicked, &TMain_Form::Button1Click);
    on(ListBox1, &QListWidget::itemDoubleClicked, &TMain_Form::ListBox1DblClick);
    on(Image2, &HotSpot::clicked, &TMain_Form::Image2Click);
    on(Image3, &HotSpot::clicked, &TMain_Form::Image3Click);
    on(Image4, &HotSpot::clicked, &TMain_Form::Image4Click);
}

void TMain_Form::readChoices()
{
    model_.format = RadioGroup3->itemIndex() == 1 ? InputFormat::Bitmap : InputFormat::Jpeg;
    model_.sizeIndex = RadioGroup1->itemIndex();
    model_.qualityIndex = RadioGroup2->itemIndex();
    model_.sharpen = CheckBox1->isChecked();
    model_.series = Edit1->text().toStdString();
}

void TMain_Form::showModel()
{
    ListBox1->clear();
    for (const std::string& name : model_.names) ListBox1->addItem(QString::fromStdString(name));
    Button1->setEnabled(model_.resizeEnabled);
    Label2->setVisible(model_.okVisible);
    ProgressBar1->setMaximum(model_.progressMax);
    ProgressBar1->setValue(model_.progressPosition);
}

void TMain_Form::Button6Click()
{
    readChoices();
    const QString chosen = chooseFile(this, model_.format);
    if (chosen.isEmpty()) return;  // cancelled: nothing changes
    ScanFolder(model_, chosen.toStdString());
    showModel();
}

void TMain_Form::Button1Click()
{
    if (running()) return;
    readChoices();  // read once: no control can change while the run lasts
    Button1->setEnabled(false);
    RunOptions options;
    options.jobs = std::max(1, QThread::idealThreadCount());
    // In list order, so the bar moves picture by picture.
    options.costliestFirst = false;
    worker_ = std::make_unique<ResizeWorker>(model_, options);
    connect(worker_.get(), &ResizeWorker::progressChanged, ProgressBar1, &QProgressBar::setValue);
    connect(worker_.get(), &ResizeWorker::beeped, this, [this] { beep(); });
    damaged_.clear();
    connect(worker_.get(), &ResizeWorker::damaged, this, [this](const QString& input) { damaged_ << input; });
    connect(worker_.get(), &ResizeWorker::finished, this, &TMain_Form::endRun);
    // Only moving, minimising and closing stay open to the user.
    qApp->installEventFilter(this);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    worker_->start();
}

void TMain_Form::endRun(RunEnd end, const QString& error)
{
    model_ = worker_->result();
    worker_.release()->deleteLater();  // it is still delivering this report
    qApp->removeEventFilter(this);
    QGuiApplication::restoreOverrideCursor();
    showModel();  // the state the run reached
    emit runFinished();
    if (closeAfterRun_) {
        close();
        return;
    }
    if (end == RunEnd::Failed) ShowError(error);
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
        return widget != Image1 && widget != Image3 && widget != Image4;  // dropped, not queued
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

void TMain_Form::ListBox1DblClick()
{
    const int index = ListBox1->currentRow();
    if (index < 0) return;
    const std::string path = Trim(model_.imageFolder + ListBox1->item(index)->text().toStdString());
    openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TMain_Form::Image2Click()
{
    if (aboutForm_ != nullptr) aboutForm_->showModal();
}

void TMain_Form::Image3Click()
{
    showMinimized();
}

void TMain_Form::Image4Click()
{
    close();
}

}  // namespace pictavo::ui
