// The file-open dialog with a picture preview pane, and its Preview window.
#pragma once

#include "batch/Model.h"

#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QToolButton>

namespace pictavo::ui {

// The two filters of each input format: the texts the list shows and the
// pattern that both entries share.
QStringList DialogFilters(InputFormat format);

class PictureOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    PictureOpenDialog(QWidget* parent, InputFormat format);

    QLabel* pictureLabel() const { return label_; }
    QToolButton* previewButton() const { return previewButton_; }
    const QImage& picture() const { return picture_; }

    // Shows the picture of `path` in the pane, or "(None)".
    void showPicture(const QString& path);

private:
    void openPreview();

    QLabel* label_;
    QToolButton* previewButton_;
    QLabel* area_;
    QImage picture_;
};

// The modal "Preview" window: the picture stretched proportionally on a
// panel with a 5-pixel border, at most three quarters of the screen.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(QWidget* parent, const QImage& picture);

};

}  // namespace pictavo::ui
