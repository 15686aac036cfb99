#include "ui/Widgets.h"

#include <QMouseEvent>
#include <algorithm>
#include <QPainter>
#include <QRadioButton>
#include <QWindow>

namespace pictavo::ui {

QFont PixelFont(const QString& family, int pixelSize, bool bold, bool underline)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& geometry, const QFont& font,
                  const QColor& colour, const char* objectName)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    // Labels size themselves to their text: never narrower than it.
    QRect area = geometry;
    if (!area.isNull()) area.setWidth(std::max(area.width(), QFontMetrics(font).horizontalAdvance(text) + 1));
    label->setGeometry(area);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* MakeRightLabel(QWidget* parent, const QString& text, int right, int top, int height, const QFont& font,
                       const QColor& colour, const char* objectName)
{
    QLabel* label = MakeLabel(parent, text, QRect(), font, colour, objectName);
    const int width = QFontMetrics(font).horizontalAdvance(text);
    label->setGeometry(right - width, top, width, height);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return label;
}

BackgroundPicture::BackgroundPicture(QWidget* parent, bool movesWindow)
    : QWidget(parent), startSystemMove([](QWindow* w) { return w->startSystemMove(); }), movesWindow_(movesWindow)
{
    setCursor(Qt::ArrowCursor);
}

void BackgroundPicture::setPicture(const QImage& picture)
{
    picture_ = picture;
    update();
}

void BackgroundPicture::paintEvent(QPaintEvent*)
{
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture_);  // natural size, clipped to the control
}

void BackgroundPicture::mousePressEvent(QMouseEvent* event)
{
    if (!movesWindow_) return QWidget::mousePressEvent(event);
    // The move starts at the first motion with the button still held. A move
    // started from the press itself, when the press arrives late or was
    // released within milliseconds, waits for a release that already
    // happened: the window then follows the pointer with no button held.
    pressed_ = event->button();
    dragOffset_ = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void BackgroundPicture::mouseMoveEvent(QMouseEvent* event)
{
    if (pressed_ == Qt::NoButton) return;
    if (!(event->buttons() & pressed_)) {  // the release went elsewhere
        pressed_ = Qt::NoButton;
        dragging_ = false;
        return;
    }
    if (!dragging_) {
        // As if the title bar had been grabbed.
        if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
        QWindow* handle = window()->windowHandle();
        if (handle != nullptr && startSystemMove(handle)) {
            pressed_ = Qt::NoButton;  // the window system has it from here
            return;
        }
        dragging_ = true;  // the window system cannot: move it ourselves
    }
    window()->move(event->globalPosition().toPoint() - dragOffset_);
}

void BackgroundPicture::mouseReleaseEvent(QMouseEvent*)
{
    pressed_ = Qt::NoButton;
    dragging_ = false;
}

HotSpot::HotSpot(QWidget* parent, const QRect& geometry, const QString& hint, const char* objectName) : QWidget(parent)
{
    setObjectName(objectName);
    setGeometry(geometry);
    setCursor(Qt::PointingHandCursor);
    setToolTip(hint);
    setToolTipDuration(2500);
    setAttribute(Qt::WA_TranslucentBackground);
}

void HotSpot::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
}

void HotSpot::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) emit clicked();
}

RadioGroup::RadioGroup(QWidget* parent, const QString& caption, const QStringList& items, int itemIndex,
                       const QRect& geometry, const char* objectName)
    : QGroupBox(caption, parent)
{
    setFont(PixelFont("MS Sans Serif", 11));
    setObjectName(objectName);
    setGeometry(geometry);
    // The caption sits on the frame line; the items share the room below it.
    setStyleSheet("QGroupBox, QRadioButton { color: rgb(92, 92, 92); }"
                  "QGroupBox { border: 1px solid #8c8c8c; border-radius: 2px; margin-top: 6px; }"
                  "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px;"
                  " padding: 0px 0px; }");
    constexpr int top = 13, bottom = 3;
    const int room = geometry.height() - top - bottom;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setFont(font());
        buttons_.addButton(button, i);
        const int y = top + room * i / static_cast<int>(items.size());
        const int next = top + room * (i + 1) / static_cast<int>(items.size());
        button->setGeometry(7, y, geometry.width() - 9, next - y);
    }
    setItemIndex(itemIndex);
    // Tab reaches the group at its chosen item.
    connect(&buttons_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) setFocusProxy(buttons_.button(id));
    });
    setFocusProxy(buttons_.button(itemIndex));
}

int RadioGroup::itemIndex() const
{
    return buttons_.checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton* button = buttons_.button(index)) button->setChecked(true);
}

QRadioButton* RadioGroup::addItem(const QString& text, const QRect& geometry)
{
    auto* button = new QRadioButton(text, this);
    button->setFont(font());
    button->setGeometry(geometry);
    buttons_.addButton(button, static_cast<int>(buttons_.buttons().size()));
    return button;
}

QStringList RadioGroup::items() const
{
    QStringList out;
    for (QAbstractButton* b : buttons_.buttons()) out << b->text();
    return out;
}

}  // namespace pictavo::ui
