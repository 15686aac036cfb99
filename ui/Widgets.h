// Small widgets of the skinned windows.
#pragma once

#include <QButtonGroup>
#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <QWindow>

#include <functional>

namespace pictavo::ui {

inline const QColor DarkGrey(92, 92, 92);
inline const QColor Silver(192, 192, 192);
inline const QColor Navy(0, 0, 128);
inline const QColor Green(0, 128, 0);

// "MS Sans Serif" or "Arial" at a pixel size; the families are mapped to
// metric-compatible free fonts at start-up.
QFont PixelFont(const QString& family, int pixelSize, bool bold = false, bool underline = false);

// A transparent label in the given font and colour.
QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& geometry, const QFont& font,
                  const QColor& colour, const char* objectName);

// A right-aligned label that sizes itself to its text and keeps its right edge.
QLabel* MakeRightLabel(QWidget* parent, const QString& text, int right, int top, int height, const QFont& font,
                       const QColor& colour, const char* objectName);

// A picture drawn at its natural size from the top-left corner. Pressing any
// mouse button on it and moving the pointer with the button held moves the
// window.
class BackgroundPicture : public QWidget {
    Q_OBJECT
public:
    explicit BackgroundPicture(QWidget* parent, bool movesWindow = false);
    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }

    // Asks the window system to move the window as from its title bar;
    // false when it cannot. Tests replace it.
    std::function<bool(QWindow*)> startSystemMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    bool movesWindow_;
    Qt::MouseButton pressed_ = Qt::NoButton;  // the press a move may start from
    bool dragging_ = false;                   // moving the window ourselves
    QPoint dragOffset_;
};

// An invisible click target over a glyph of the background picture.
class HotSpot : public QWidget {
    Q_OBJECT
public:
    HotSpot(QWidget* parent, const QRect& geometry, const QString& hint, const char* objectName);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

// A captioned column of radio buttons with one item always chosen.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(QWidget* parent, const QString& caption, const QStringList& items, int itemIndex, const QRect& geometry,
               const char* objectName);
    int itemIndex() const;
    void setItemIndex(int index);
    QStringList items() const;
    // One more choice, placed at `geometry` inside the group rather than
    // under the others.
    QRadioButton* addItem(const QString& text, const QRect& geometry);

private:
    QButtonGroup buttons_;
};

}  // namespace pictavo::ui
