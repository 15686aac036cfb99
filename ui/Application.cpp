#include "ui/Application.h"

#include "base/Errors.h"

#include <QFileInfo>
#include <QWidget>

namespace pictavo::ui {
namespace {

std::function<void(const QString&)>& Sink()
{
    static std::function<void(const QString&)> sink;
    return sink;
}

}  // namespace

QString ApplicationTitle(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    name = name.left(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
    return name.left(1) + name.mid(1).toLower();
}

std::unique_ptr<QMessageBox> MakeErrorBox(const QString& message)
{
    auto box = std::make_unique<QMessageBox>();
    box->setIcon(QMessageBox::Critical);
    box->setWindowTitle(QApplication::applicationName());
    box->setText(QString::fromStdString(DisplayMessage(message.toStdString())));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void ShowError(const QString& message)
{
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (Sink()) {
        Sink()(QString::fromStdString(DisplayMessage(message.toStdString())));
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    MakeErrorBox(message)->exec();  // application-modal: the other windows wait
    if (focus != nullptr) focus->setFocus();
}

void SetErrorSink(std::function<void(const QString& message)> sink)
{
    Sink() = std::move(sink);
}

PictavoApplication::PictavoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PictavoApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

}  // namespace pictavo::ui
