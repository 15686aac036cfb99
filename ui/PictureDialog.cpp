#include "ui/PictureDialog.h"

#include "codecs/PictureFormats.h"
#include "ui/Artwork.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace pictavo::ui {

QStringList DialogFilters(InputFormat format)
{
    if (format == InputFormat::Bitmap) return {"BMP Files (*.bmp)", "BMP Files (*.BMP)"};
    return {"JPEG Files (*.jpg)", "JPEG Files (*.JPG)"};
}

PictureOpenDialog::PictureOpenDialog(QWidget* parent, InputFormat format) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setSizeGripEnabled(true);
    // Qt matches the patterns without regard to letter case. The JPEG
    // filters show "*.jpg", but .jpeg files are listed too, as the scan lists them.
    setNameFilters(DialogFilters(format));
    if (format == InputFormat::Jpeg) {
        const auto widen = [this] {
            if (auto* files = findChild<QFileSystemModel*>()) files->setNameFilters({"*.jpg", "*.jpeg"});
        };
        widen();
        connect(this, &QFileDialog::filterSelected, this, widen);
    }

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

    resize(860, 500);
    connect(this, &QFileDialog::currentChanged, this, &PictureOpenDialog::showPicture);
    connect(previewButton_, &QToolButton::clicked, this, &PictureOpenDialog::openPreview);
}

void PictureOpenDialog::showPicture(const QString& path)
{
    picture_ = QImage();
    if (QFileInfo(path).isFile()) {
        try {
            Raster24 raster;
            if (LoadPictureFile(path.toStdString(), raster) && raster.width() > 0) picture_ = ToImage(raster);
        } catch (const std::exception&) {
            picture_ = QImage();  // an unreadable picture shows nothing
        }
    }
    if (picture_.isNull()) {
        label_->setText("Picture:");
        previewButton_->setEnabled(false);
        area_->setPixmap(QPixmap());
        area_->setText("(None)");
        return;
    }
    label_->setText(QString::asprintf(" (%dx%d)", picture_.width(), picture_.height()));
    previewButton_->setEnabled(true);
    const QSize room = area_->contentsRect().size();
    const QImage shown = picture_.width() > room.width() || picture_.height() > room.height()
                             ? picture_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : picture_;
    area_->setPixmap(QPixmap::fromImage(shown));
}

void PictureOpenDialog::openPreview()
{
    if (picture_.isNull()) return;
    PreviewWindow preview(this, picture_);
    preview.exec();
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
