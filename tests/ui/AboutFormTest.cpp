#include "ui/AboutForm.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

namespace pictavo::ui {
namespace {

TEST(AboutForm, PropertiesAndTexts)
{
    TAbout_Form about(nullptr);
    EXPECT_EQ(about.windowTitle(), " About Pictavo");
    EXPECT_EQ(about.size(), QSize(375, 403));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());  // not resizable
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(about.BitBtn1->text(), "OK");
    EXPECT_EQ(about.BitBtn1->geometry(), QRect(288, 368, 75, 25));
    EXPECT_TRUE(about.BitBtn1->isDefault());
    EXPECT_EQ(about.Memo1->geometry(), QRect(10, 192, 353, 165));
    EXPECT_TRUE(about.Memo1->toPlainText().contains("\u00A9 2026 The Pictavo authors"));
    EXPECT_TRUE(about.Memo1->toPlainText().contains("Independent JPEG Group"));
    EXPECT_EQ(about.Label7->text(), "Vsit our website.");
    ASSERT_NE(about.findChild<QLabel*>("Label3"), nullptr);
    EXPECT_EQ(about.findChild<QLabel*>("Label3")->text(), "Version 1.2");
    EXPECT_EQ(about.Image1->geometry(), QRect(8, 4, 193, 153));
    EXPECT_EQ(about.Image1->picture().size(), QSize(225, 150));
    const auto* title = about.findChild<QLabel*>("Label1");
    const auto* shadow = about.findChild<QLabel*>("Label2");
    ASSERT_TRUE(title && shadow);
    EXPECT_EQ(title->text(), "Pictavo ");
    EXPECT_EQ(shadow->geometry().topLeft() - title->geometry().topLeft(), QPoint(1, 1));
    EXPECT_EQ(title->geometry().right() + 1, 368);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 0, 128));
}

TEST(AboutForm, CentredFirstThenWhereItWasLeftAndEnterCloses)
{
    TAbout_Form about(nullptr);
    QPoint first;
    QTimer::singleShot(0, [&] {
        first = about.pos();
        EXPECT_EQ(about.focusWidget(), about.BitBtn1);
        about.move(first + QPoint(40, 30));
        about.Memo1->setPlainText("typed by the user");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(about.BitBtn1, &enter);
    });
    EXPECT_EQ(about.showModal(), QDialog::Accepted);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(first, QPoint((screen.width() - about.width()) / 2, (screen.height() - about.height()) / 2));

    QPoint second;
    QString memo;
    QTimer::singleShot(0, [&] {
        second = about.pos();
        memo = about.Memo1->toPlainText();
        about.reject();
    });
    about.showModal();
    EXPECT_EQ(second, first + QPoint(40, 30));
    EXPECT_EQ(memo, "typed by the user");
}

TEST(AboutForm, LinksOpenThePagesAndKeepTheWindow)
{
    TAbout_Form about(nullptr);
    std::vector<QUrl> opened;
    about.openUrl = [&](const QUrl& url) { opened.push_back(url); };
    for (QLabel* link : {about.Label5, about.Label7}) {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(link, &release);
    }
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl(HomePage), QUrl(ProductPage)}));
}

}  // namespace
}  // namespace pictavo::ui
