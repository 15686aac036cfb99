// Redazar: brings the application up, runs its one window until it closes,
// and takes everything down again.
#include "codecs/PictureFormats.h"
#include "codecs/TJPEGImage.h"
#include "ui/AboutForm.h"
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/MainForm.h"

#include <QFont>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>

#include <cfenv>

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

}  // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(artwork);  // the pictures live in a static library
    using namespace pictavo;
    // Sizes are computed with exact integer arithmetic and raise their own
    // division errors; only the rounding mode matters to the rest.
    std::fesetround(FE_TONEAREST);
    // The windows' stored pictures are found through these.
    RegisterJpegFormats();
    RegisterBitmapFormat();

    ui::PictavoApplication app(argc, argv);
    QApplication::setApplicationName(ui::ApplicationTitle(QString::fromLocal8Bit(argv[0])));
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(ui::MainIcon())));
    QApplication::setStyle(new HintStyle(QStyleFactory::create("Fusion")));
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    if (QScreen* screen = QGuiApplication::primaryScreen()) JPEGDefaults().paletteOutput = screen->depth() <= 8;

    ui::TMain_Form mainForm;
    ui::TAbout_Form aboutForm(&mainForm);
    mainForm.setAboutForm(&aboutForm);
    mainForm.show();
    mainForm.Button6->setFocus();
    app.exec();

    UnregisterJpegFormats();
    UnregisterBitmapFormat();
    return 0;
}
