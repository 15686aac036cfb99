// The file-open dialog with a picture preview pane, and its Preview window.
#pragma once

#include "batch/Model.h"

#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QToolButton>

#include <memory>

namespace pictavo::ui {

class PreviewLoader;

// The dialog's filters, from the picture-format table: "All pictures"
// first, then one entry per format with all its extensions.
QStringList DialogFilters();
// The entry that shows what the input choice lists.
QString DialogFilter(InputFormat format);

class PictureOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    PictureOpenDialog(QWidget* parent, InputFormat format);
    ~PictureOpenDialog() override;

    QLabel* pictureLabel() const { return label_; }
    QToolButton* previewButton() const { return previewButton_; }
    const QImage& picture() const { return picture_; }

    // Shows the picture of `path` in the pane, or "(None)". The size shows
    // from the header at once; the picture follows from a worker thread.
    void showPicture(const QString& path);

signals:
    // The pane shows the outcome of the latest showPicture().
    void pictureShown();

private:
    void giveRoom();
    void showNone();
    void pictureSized(const QString& path, const QSize& size);
    void pictureLoaded(const QString& path, const QImage& picture);
    void openPreview();

    QLabel* label_;
    QToolButton* previewButton_;
    QLabel* area_;
    QImage picture_;  // as the pane shows it
    QString path_;    // the file the pane is for
    PreviewLoader* loader_;
};

// The modal "Preview" window: the picture stretched proportionally on a
// panel with a 5-pixel border, at most three quarters of the screen.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(QWidget* parent, const QImage& picture);
};

// The picture of `path` scaled to fit three quarters of the screen, as the
// Preview window shows it; null when it cannot be read.
QImage ScreenSizedPicture(const QString& path, const QScreen* screen);

}  // namespace pictavo::ui
