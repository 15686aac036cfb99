#include "ui/PictureDialog.h"

#include "batch/FolderScan.h"
#include "codecs/PictureFormats.h"
#include "preview/PreviewDecode.h"
#include "ui/Artwork.h"
#include "ui/PreviewLoader.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListView>
#include <QSplitter>
#include <QTreeView>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace pictavo::ui {

namespace {

QString Patterns(const PictureKind& kind)
{
    QStringList patterns;
    for (const std::string& extension : kind.extensions) patterns << QString::fromStdString("*." + extension);
    return patterns.join(' ');
}

QString Filter(const PictureKind& kind)
{
    return QString::fromStdString(kind.name) + " pictures (" + Patterns(kind) + ")";
}

}  // namespace

QStringList DialogFilters()
{
    QStringList all, each;
    for (const PictureKind& kind : PictureKinds()) {
        all << Patterns(kind);
        each << Filter(kind);
    }
    return QStringList{"All pictures (" + all.join(' ') + ")"} + each;
}

QString DialogFilter(InputFormat format)
{
    const PictureKind* kind = KindOfFormat(format);
    return kind ? Filter(*kind) : DialogFilters().front();
}

PictureOpenDialog::PictureOpenDialog(QWidget* parent, InputFormat format) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setSizeGripEnabled(true);
    // Qt matches the patterns without regard to letter case.
    setNameFilters(DialogFilters());
    selectNameFilter(DialogFilter(format));

    auto* pane = new QWidget(this);
    pane->setObjectName("previewPane");
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(6, 0, 0, 0);
    auto* top = new QHBoxLayout();
    label_ = new QLabel("Picture:", pane);
    previewButton_ = new QToolButton(pane);
    previewButton_->setToolTip("Preview");
    previewButton_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    previewButton_->setEnabled(false);
    top->addWidget(label_, 1);
    top->addWidget(previewButton_);
    area_ = new QLabel("(None)", pane);
    area_->setAlignment(Qt::AlignCenter);
    area_->setFrameShape(QFrame::StyledPanel);
    area_->setMinimumSize(220, 220);
    column->addLayout(top);
    column->addWidget(area_, 1);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);

    loader_ = new PreviewLoader(this);
    connect(loader_, &PreviewLoader::sized, this, &PictureOpenDialog::pictureSized);
    connect(loader_, &PreviewLoader::loaded, this, &PictureOpenDialog::pictureLoaded);
    giveRoom();
    const auto follow = [this](const QString& path) {
        if (path != path_) showPicture(path);
    };
    connect(this, &QFileDialog::currentChanged, this, follow);
    // A name typed into the name field selects its file without making it current.
    if (auto* files = findChild<QAbstractItemView*>("listView"); files != nullptr && files->selectionModel() != nullptr)
        connect(files->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, follow] {
            const QStringList chosen = selectedFiles();
            if (chosen.size() == 1) follow(chosen.first());
        });
    connect(previewButton_, &QToolButton::clicked, this, &PictureOpenDialog::openPreview);
}

PictureOpenDialog::~PictureOpenDialog() = default;

// Room for the places' names and for the Size and Type columns.
void PictureOpenDialog::giveRoom()
{
    resize(980, 520);
    if (auto* splitter = findChild<QSplitter*>("splitter")) splitter->setSizes({170, 560});
    if (auto* places = findChild<QListView*>("sidebar")) places->setMinimumWidth(150);
    if (auto* details = findChild<QTreeView*>("treeView")) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

void PictureOpenDialog::showPicture(const QString& path)
{
    path_ = path;
    showNone();
    if (!QFileInfo(path).isFile()) {
        loader_->request({}, {});
        emit pictureShown();
        return;
    }
    area_->setText({});  // until the picture arrives
    // Before the first layout the area may not have its size yet.
    loader_->request(path, area_->contentsRect().size().expandedTo(area_->minimumSize()));
}

void PictureOpenDialog::showNone()
{
    picture_ = QImage();
    label_->setText("Picture:");
    previewButton_->setEnabled(false);
    area_->setPixmap(QPixmap());
    area_->setText("(None)");
}

void PictureOpenDialog::pictureSized(const QString& path, const QSize& size)
{
    if (path == path_) label_->setText(QString::asprintf(" (%dx%d)", size.width(), size.height()));
}

void PictureOpenDialog::pictureLoaded(const QString& path, const QImage& picture)
{
    if (path != path_) return;
    if (picture.isNull()) {
        showNone();
    } else {
        picture_ = picture;
        previewButton_->setEnabled(true);
        area_->setPixmap(QPixmap::fromImage(picture_));
    }
    emit pictureShown();
}

void PictureOpenDialog::openPreview()
{
    if (picture_.isNull()) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const QImage picture = ScreenSizedPicture(path_, screen());
    QGuiApplication::restoreOverrideCursor();
    if (picture.isNull()) return;
    PreviewWindow preview(this, picture);
    preview.exec();
}

QImage ScreenSizedPicture(const QString& path, const QScreen* screen)
{
    const QSize room = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry().size() * 3 / 4 -
                       QSize(10, 10);
    try {
        const Raster24 picture = DecodePreview(path.toStdString(), room.width(), room.height());
        return picture.width() > 0 ? ToImage(picture) : QImage();
    } catch (const std::exception&) {
        return QImage();
    }
}

namespace {

// The picture stretched proportionally to the widget and centred.
class StretchedPicture : public QWidget {
public:
    StretchedPicture(QWidget* parent, const QImage& picture) : QWidget(parent), picture_(picture) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize size = picture_.size().scaled(this->size(), Qt::KeepAspectRatio);
        painter.drawImage(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size), picture_);
    }

private:
    QImage picture_;
};

}  // namespace

PreviewWindow::PreviewWindow(QWidget* parent, const QImage& picture) : QDialog(parent)
{
    setWindowTitle("Preview");
    setWindowFlag(Qt::Tool);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QFrame(this);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Window);
    auto* inner = new QVBoxLayout(panel);
    inner->setContentsMargins(5, 5, 5, 5);
    inner->addWidget(new StretchedPicture(panel, picture));
    layout->addWidget(panel);

    const QRect screen = (parent ? parent->screen() : QGuiApplication::primaryScreen())->availableGeometry();
    const QSize wanted = picture.size() + QSize(10, 10);
    resize(std::min(wanted.width(), screen.width() * 3 / 4), std::min(wanted.height(), screen.height() * 3 / 4));
    move(screen.center() - rect().center());
}

}  // namespace pictavo::ui
