#include "ui/Application.h"

#include "base/Errors.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "ui/Artwork.h"

#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>

#include <cfenv>

// Outside any namespace, as the resource macro requires; the pictures live
// in a static library.
static void InitArtwork()
{
    Q_INIT_RESOURCE(artwork);
}

namespace pictavo::ui {
namespace {

// Hints show after the pointer rests 500 ms.
class HintStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay) return 500;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

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

namespace {

QString ErrorText(const QString& message, const QString& detail)
{
    const QString first = QString::fromStdString(DisplayMessage(message.toStdString()));
    return detail.isEmpty() ? first : first + "\n\n" + detail;
}

}  // namespace

std::unique_ptr<QMessageBox> MakeErrorBox(const QString& message, const QString& detail)
{
    auto box = std::make_unique<QMessageBox>();
    box->setIcon(QMessageBox::Critical);
    box->setWindowTitle(QApplication::applicationName());
    box->setTextFormat(Qt::PlainText);
    box->setText(ErrorText(message, detail));
    // So the user can paste it into a report.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void ShowError(const QString& message, const QString& detail)
{
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (Sink()) {
        Sink()(ErrorText(message, detail));
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    MakeErrorBox(message, detail)->exec();  // application-modal: the other windows wait
    if (focus != nullptr) focus->setFocus();
}

void ShowWarning(const QString& message)
{
    if (Sink()) {
        Sink()(message);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), message, QMessageBox::Ok);
    box.exec();
}

void ShowCurrentError()
{
    try {
        throw;
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowError("Unknown error");
    }
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
    } catch (...) {
        ShowCurrentError();
    }
    return false;
}

void SetUpApplication(const QString& executablePath)
{
    // Sizes are computed with exact integer arithmetic and raise their own
    // division errors; only the rounding mode matters to the rest.
    std::fesetround(FE_TONEAREST);
    InitArtwork();
    QApplication::setApplicationName(ApplicationTitle(executablePath));
    // Launchers and task bars match the running window to pictavo.desktop.
    QGuiApplication::setDesktopFileName("pictavo");
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(MainIcon())));
    QApplication::setStyle(new HintStyle(QStyleFactory::create("Fusion")));
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    if (QScreen* screen = QGuiApplication::primaryScreen()) JPEGDefaults().decodesToPalette = screen->depth() <= 8;
}

}  // namespace pictavo::ui
