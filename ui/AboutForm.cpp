#include "ui/AboutForm.h"

#include "ui/Artwork.h"
#include "ui/Widgets.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace pictavo::ui {
namespace {

QFrame* Bevel(QWidget* parent, const QRect& geometry, const char* objectName)
{
    // A lowered line along the bottom edge of the area.
    auto* line = new QFrame(parent);
    line->setObjectName(objectName);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(geometry.x(), geometry.bottom() - 1, geometry.width(), 2);
    return line;
}

// A green check mark, grey when the button is disabled.
QIcon CheckGlyph()
{
    QIcon icon;
    for (const auto& [mode, colour] : {std::pair{QIcon::Normal, QColor(0, 150, 0)}, std::pair{QIcon::Disabled, QColor(150, 150, 150)}}) {
        QPixmap glyph(16, 16);
        glyph.fill(Qt::transparent);
        QPainter p(&glyph);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        p.end();
        icon.addPixmap(glyph, mode);
    }
    return icon;
}

}  // namespace

QString LicenceText()
{
    return QStringLiteral(
        "Pictavo " PICTAVO_VERSION "\n"
        "\u00A9 2026 The Pictavo authors\n\n"
        "Permission is hereby granted, free of charge, to any person obtaining a copy of this software and "
        "associated documentation files (the \"Software\"), to deal in the Software without restriction, "
        "including without limitation the rights to use, copy, modify, merge, publish, distribute, sublicense, "
        "and/or sell copies of the Software, and to permit persons to whom the Software is furnished to do so, "
        "subject to the following conditions:\n\n"
        "The above copyright notice and this permission notice shall be included in all copies or substantial "
        "portions of the Software.\n\n"
        "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING BUT NOT "
        "LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO "
        "EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER "
        "IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR "
        "THE USE OR OTHER DEALINGS IN THE SOFTWARE.\n\n"
        "This software is based in part on the work of the Independent JPEG Group. JPEG coding is done by "
        "libjpeg-turbo.\n");
}

TAbout_Form::TAbout_Form(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName("About_Form");
    setWindowTitle(" About Pictavo");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(375, 403);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setFont(PixelFont("MS Sans Serif", 11));
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    Image1 = new BackgroundPicture(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(8, 4, 193, 153);
    Image1->setPicture(StoredPicture(":/artwork/about_photo.bin"));

    const QFont title = PixelFont("Arial", 16, true);
    MakeRightLabel(this, "Pictavo ", 369, 9, 19, title, Silver, "Label2");
    MakeRightLabel(this, "Pictavo ", 368, 8, 19, title, Navy, "Label1");
    MakeRightLabel(this, "Version " PICTAVO_SHORT_VERSION, 364, 32, 13, PixelFont("MS Sans Serif", 11, true), DarkGrey, "Label3");
    Bevel(this, QRect(204, 64, 161, 6), "Bevel1");
    const QFont regular = PixelFont("MS Sans Serif", 11);
    MakeRightLabel(this, "\u00A9 2026 The Pictavo authors", 363, 76, 13, regular, DarkGrey, "Label4");
    MakeRightLabel(this, "Free software, MIT licence", 363, 92, 13, regular, DarkGrey, "Label8");
    Label5 = MakeRightLabel(this, "pictavo.org", 363, 108, 13, PixelFont("MS Sans Serif", 11, false, true), DarkGrey, "Label5");
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->installEventFilter(this);
    Bevel(this, QRect(10, 176, 353, 6), "Bevel2");
    MakeLabel(this, "Do you really need help?", QRect(10, 160, 142, 13), PixelFont("MS Sans Serif", 11, true), DarkGrey, "Label6");
    Label7 = MakeLabel(this, "Vsit our website.", QRect(163, 160, 95, 13), PixelFont("MS Sans Serif", 11, true, true),
                       DarkGrey, "Label7");
    Label7->setCursor(Qt::PointingHandCursor);
    Label7->installEventFilter(this);

    BitBtn1 = new QPushButton(CheckGlyph(), "OK", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(288, 368, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(10, 192, 353, 165);
    Memo1->setPlainText(LicenceText());
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    QPalette memo = Memo1->palette();
    memo.setColor(QPalette::Base, Qt::white);
    Memo1->setPalette(memo);

    setTabOrder(BitBtn1, Memo1);
}

int TAbout_Form::showModal()
{
    if (!shownBefore_) {
        shownBefore_ = true;
        const QRect screen = (parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())->geometry();
        move(screen.x() + (screen.width() - width()) / 2, screen.y() + (screen.height() - height()) / 2);
    }
    BitBtn1->setFocus();
    return exec();
}

bool TAbout_Form::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label5) openUrl(QUrl(HomePage));
        if (watched == Label7) openUrl(QUrl(ProductPage));
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace pictavo::ui
