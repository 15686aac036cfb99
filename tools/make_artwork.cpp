// Draws the main window's skin, the About window's photograph and the
// application icon, and writes them in the forms the program stores them:
// the two pictures as stored JPEG payloads, the icon as a 16-colour bitmap.
// Also writes the desktop's icon theme: the logo as PNG in each hicolor size
// and as SVG, drawn by the same code through a vector paint engine.
#include "codecs/jpeg/TJPEGImage.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPaintEngine>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>

namespace {

const QColor DarkGrey(92, 92, 92);

// The logo: a red cartoon bird's head looking right, drawn into `box`.
void DrawBird(QPainter& p, const QRectF& box)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 100.0, box.height() / 100.0);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor outline(90, 10, 10);
    p.setPen(QPen(outline, 4));
    // Crest: three feathers.
    p.setBrush(QColor(200, 30, 25));
    for (int i = 0; i < 3; ++i) {
        QPainterPath feather;
        const double x = 30 + i * 11;
        feather.moveTo(x, 30);
        feather.quadTo(x - 12, 6 - i * 2, x + 4 - i * 2, 2 + i * 3);
        feather.quadTo(x + 8, 16, x + 12, 30);
        p.drawPath(feather);
    }
    // Beak.
    QPainterPath beak;
    beak.moveTo(70, 42);
    beak.quadTo(98, 48, 97, 60);
    beak.quadTo(86, 66, 70, 66);
    beak.closeSubpath();
    p.setBrush(QColor(250, 180, 30));
    p.drawPath(beak);
    p.setPen(QPen(outline, 2.5));
    p.drawLine(QPointF(72, 57), QPointF(94, 58));
    // Head.
    QRadialGradient head(QPointF(38, 40), 52);
    head.setColorAt(0, QColor(255, 90, 70));
    head.setColorAt(0.55, QColor(215, 35, 28));
    head.setColorAt(1, QColor(150, 15, 12));
    p.setPen(QPen(outline, 4));
    p.setBrush(head);
    p.drawEllipse(QRectF(10, 22, 66, 68));
    // Cheek and eye.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 150, 140, 170));
    p.drawEllipse(QRectF(50, 60, 14, 10));
    p.setPen(QPen(outline, 3));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(44, 34, 22, 24));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20));
    p.drawEllipse(QRectF(54, 40, 10, 12));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(58, 42, 3.5, 3.5));
    p.restore();
}

// The part of the panel between two heights, shaded from top to bottom.
void FillPanelBand(QPainter& p, const QPainterPath& panel, double top, double bottom, const QColor& from,
                   const QColor& to)
{
    QPainterPath band;
    band.addRect(QRectF(0, top, 435, bottom - top));
    QLinearGradient shade(0, top, 0, bottom);
    shade.setColorAt(0, from);
    shade.setColorAt(1, to);
    p.fillPath(panel.intersected(band), shade);
}

QImage Skin()
{
    // The steps fill the top 287 rows; the strip of output choices lies below.
    constexpr int height = 343, strip = 287;
    QImage img(435, height, QImage::Format_RGB888);
    img.fill(QColor(150, 150, 150));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // The panel, with a thin darker rim along the window's outline.
    QPainterPath panel;
    panel.addRoundedRect(QRectF(0.5, 0.5, 434, height - 1), 7, 7);
    p.fillPath(panel, QColor(120, 120, 120));
    QPainterPath inner;
    inner.addRoundedRect(QRectF(1.5, 1.5, 432, height - 3), 6, 6);
    p.fillPath(inner, QColor(192, 192, 192));

    // Title strip: lighter, with a soft gradient and a hairline below.
    FillPanelBand(p, inner, 0, 25, QColor(246, 246, 246), QColor(218, 218, 218));
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawLine(QPointF(2, 25.5), QPointF(433, 25.5));
    p.setPen(QPen(QColor(232, 232, 232), 1));
    p.drawLine(QPointF(2, 26.5), QPointF(433, 26.5));

    // Logo and name.
    DrawBird(p, QRectF(5, 1, 36, 36));
    QFont name("Liberation Sans");
    name.setPixelSize(18);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    p.setFont(name);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QPointF(46, 19), "Pictavo");
    p.setPen(DarkGrey);
    p.drawText(QPointF(45, 18), "Pictavo");
    QFont motto("Liberation Sans");
    motto.setPixelSize(10);
    motto.setItalic(true);
    p.setFont(motto);
    p.setPen(QColor(120, 120, 120));
    p.drawText(QPointF(124, 17), "photographs for the web");

    // The three glyphs under the hot spots.
    p.setPen(QPen(DarkGrey, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QFont mark("Liberation Sans");
    mark.setPixelSize(13);
    mark.setBold(true);
    p.setFont(mark);
    p.drawText(QRectF(384, 7, 9, 12), Qt::AlignCenter, "?");
    p.drawLine(QPointF(400.5, 15.5), QPointF(407.5, 15.5));
    p.drawLine(QPointF(415.5, 9), QPointF(422.5, 16));
    p.drawLine(QPointF(422.5, 9), QPointF(415.5, 16));

    // An etched line above the strip.
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawLine(QPointF(8, strip + 0.5), QPointF(427, strip + 0.5));
    p.setPen(QPen(QColor(232, 232, 232), 1));
    p.drawLine(QPointF(8, strip + 1.5), QPointF(427, strip + 1.5));

    // Bottom band.
    FillPanelBand(p, inner, height - 6, height, QColor(150, 150, 150), QColor(118, 118, 118));
    p.end();
    return img;
}

QImage Photo()
{
    QImage img(225, 150, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 95);
    sky.setColorAt(0, QColor(70, 130, 200));
    sky.setColorAt(1, QColor(250, 205, 150));
    p.fillRect(img.rect(), sky);
    QRadialGradient sun(QPointF(150, 62), 30);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(0.35, QColor(255, 225, 140));
    sun.setColorAt(1, QColor(255, 225, 140, 0));
    p.fillRect(img.rect(), sun);
    auto ridge = [&](double base, double amplitude, double phase, QColor colour) {
        QPainterPath hills;
        hills.moveTo(0, 150);
        for (int x = 0; x <= 225; x += 3)
            hills.lineTo(x, base - amplitude * (0.6 * std::sin(x / 23.0 + phase) + 0.4 * std::sin(x / 9.0 + 2 * phase)));
        hills.lineTo(225, 150);
        p.fillPath(hills, colour);
    };
    ridge(78, 16, 0.4, QColor(110, 120, 160));
    ridge(88, 10, 2.1, QColor(70, 95, 110));
    // The lake, with the sun's reflection.
    QLinearGradient water(0, 95, 0, 150);
    water.setColorAt(0, QColor(90, 140, 180));
    water.setColorAt(1, QColor(40, 80, 120));
    p.fillRect(QRectF(0, 95, 225, 55), water);
    p.setPen(QPen(QColor(255, 230, 170, 180), 1.5));
    for (int i = 0; i < 7; ++i) p.drawLine(QPointF(140 - i * 1.5, 100 + i * 6), QPointF(160 + i * 1.5, 100 + i * 6));
    // Shore and reeds.
    p.fillRect(QRectF(0, 93, 225, 3), QColor(60, 80, 60));
    p.setPen(QPen(QColor(40, 60, 35), 1.2));
    for (int x = 8; x < 60; x += 4) p.drawLine(QPointF(x, 150), QPointF(x + 3 * std::sin(x), 118 + (x * 7) % 13));
    // Birds.
    p.setPen(QPen(QColor(50, 50, 60), 1.2));
    for (QPointF b : {QPointF(60, 35), QPointF(75, 28), QPointF(88, 38)}) {
        QPainterPath wing;
        wing.moveTo(b + QPointF(-5, 0));
        wing.quadTo(b + QPointF(-2, -3), b);
        wing.quadTo(b + QPointF(2, -3), b + QPointF(5, 0));
        p.drawPath(wing);
    }
    p.end();
    // Fade into white towards every edge.
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double dx = (x - 112.0) / 112.0, dy = (y - 75.0) / 75.0;
            const double d = std::pow(std::pow(std::abs(dx), 3) + std::pow(std::abs(dy), 3), 1 / 3.0);
            const double keep = std::clamp((1.0 - d) / 0.35, 0.0, 1.0);
            const QColor c = img.pixelColor(x, y);
            const auto mix = [&](int v) { return static_cast<int>(std::lround(255 + (v - 255) * keep)); };
            img.setPixelColor(x, y, QColor(mix(c.red()), mix(c.green()), mix(c.blue())));
        }
    return img;
}

// The standard 16 colours of the classic palette.
const QRgb Palette16[16] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

pictavo::Raster24 ToRaster(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
    pictavo::Raster24 r;
    r.reset(rgb.width(), rgb.height(), pictavo::PixelFormat::Bgr24, 0);
    for (int y = 0; y < rgb.height(); ++y) std::memcpy(r.scanLine(y), rgb.constScanLine(y), rgb.width() * 3);
    return r;
}

// Class-name record, 32-bit count, JPEG bytes.
QByteArray StoredJpeg(const QImage& image, int quality)
{
    pictavo::TJPEGImage jpeg;
    jpeg.takeRaster(ToRaster(image));
    jpeg.setEncodeQuality(static_cast<std::uint8_t>(quality));
    const std::vector<std::uint8_t>& bytes = jpeg.encodedBytes();
    QByteArray out;
    out.append(char(10));
    out.append("TJPEGImage");
    const auto n = static_cast<std::uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) out.append(char((n >> (8 * i)) & 0xFF));
    out.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return out;
}

// A 4-bit bitmap with the 16-colour palette; transparent pixels become the
// silver of the window.
QByteArray IconBitmap(const QImage& icon)
{
    QImage flat(icon.size(), QImage::Format_RGB32);
    flat.fill(QColor(192, 192, 192));
    QPainter p(&flat);
    p.drawImage(0, 0, icon);
    p.end();
    QVector<QRgb> table(Palette16, Palette16 + 16);
    const QImage indexed = flat.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    QByteArray b;
    auto u16 = [&](unsigned v) { b.append(char(v & 0xFF)); b.append(char(v >> 8)); };
    auto u32 = [&](unsigned v) { u16(v & 0xFFFF); u16(v >> 16); };
    const int rowBytes = 16;  // 32 pixels at 4 bits, already a multiple of 4
    b.append("BM");
    u32(14 + 40 + 64 + rowBytes * 32);
    u32(0);
    u32(14 + 40 + 64);
    u32(40); u32(32); u32(32); u16(1); u16(4); u32(0); u32(rowBytes * 32); u32(0); u32(0); u32(16); u32(16);
    for (QRgb c : table) { b.append(char(qBlue(c))); b.append(char(qGreen(c))); b.append(char(qRed(c))); b.append(char(0)); }
    for (int y = 31; y >= 0; --y)
        for (int x = 0; x < 32; x += 2)
            b.append(char(indexed.pixelIndex(x, y) << 4 | indexed.pixelIndex(x + 1, y)));
    return b;
}

// A paint engine that records fills and strokes as SVG elements in device
// coordinates; enough for the logo's paths, ellipses, lines and gradients.
class SvgEngine final : public QPaintEngine {
public:
    SvgEngine() : QPaintEngine(AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return User; }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}

    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & DirtyPen) pen_ = state.pen();
        if (state.state() & DirtyBrush) brush_ = state.brush();
        if (state.state() & DirtyTransform) transform_ = state.transform();
    }

    void drawPath(const QPainterPath& path) override { Emit(path, true); }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        QPainterPath path;
        path.moveTo(points[0]);
        for (int i = 1; i < count; ++i) path.lineTo(points[i]);
        if (mode != PolylineMode) path.closeSubpath();
        path.setFillRule(mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
        Emit(path, mode != PolylineMode);
    }

    QByteArray body;

private:
    static QString Num(double v) { return QString::number(v, 'g', 6); }
    static QString Colour(const QColor& c) { return c.name(QColor::HexRgb); }

    QString Paint(const QBrush& brush, const char* what)
    {
        if (const QGradient* g = brush.gradient(); g && g->type() == QGradient::RadialGradient) {
            const auto* radial = static_cast<const QRadialGradient*>(g);
            const QString id = QStringLiteral("g%1").arg(++gradients_);
            const QPointF centre = transform_.map(radial->center());
            const QPointF focus = transform_.map(radial->focalPoint());
            body += QStringLiteral("<defs><radialGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" cx=\"%2\" cy=\"%3\" "
                                   "fx=\"%4\" fy=\"%5\" r=\"%6\">")
                        .arg(id, Num(centre.x()), Num(centre.y()), Num(focus.x()), Num(focus.y()),
                             Num(radial->radius() * Scale()))
                        .toUtf8();
            for (const auto& [at, colour] : g->stops())
                body += QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\"/>").arg(Num(at), Colour(colour)).toUtf8();
            body += "</radialGradient></defs>\n";
            return QStringLiteral("%1=\"url(#%2)\"").arg(what, id);
        }
        QString paint = QStringLiteral("%1=\"%2\"").arg(what, Colour(brush.color()));
        if (brush.color().alpha() != 255) paint += QStringLiteral(" %1-opacity=\"%2\"").arg(what, Num(brush.color().alphaF()));
        return paint;
    }

    double Scale() const { return std::sqrt(std::abs(transform_.determinant())); }

    void Emit(const QPainterPath& logical, bool fill)
    {
        const QPainterPath path = transform_.map(logical);
        QString d;
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            if (e.isMoveTo()) d += QStringLiteral("M%1 %2").arg(Num(e.x), Num(e.y));
            else if (e.isLineTo()) d += QStringLiteral("L%1 %2").arg(Num(e.x), Num(e.y));
            else if (e.isCurveTo()) {
                const auto c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
                d += QStringLiteral("C%1 %2 %3 %4 %5 %6")
                         .arg(Num(e.x), Num(e.y), Num(c2.x), Num(c2.y), Num(end.x), Num(end.y));
                i += 2;
            }
        }
        QString element = QStringLiteral("<path d=\"%1\"").arg(d);
        element += ' ' + (fill && brush_.style() != Qt::NoBrush ? Paint(brush_, "fill") : QStringLiteral("fill=\"none\""));
        if (path.fillRule() == Qt::OddEvenFill) element += QStringLiteral(" fill-rule=\"evenodd\"");
        if (pen_.style() != Qt::NoPen) {
            element += ' ' + Paint(pen_.brush(), "stroke");
            element += QStringLiteral(" stroke-width=\"%1\"").arg(Num(pen_.widthF() * Scale()));
            element += pen_.capStyle() == Qt::RoundCap ? " stroke-linecap=\"round\"" : pen_.capStyle() == Qt::FlatCap ? "" : " stroke-linecap=\"square\"";
            element += pen_.joinStyle() == Qt::RoundJoin ? " stroke-linejoin=\"round\"" : pen_.joinStyle() == Qt::BevelJoin ? " stroke-linejoin=\"bevel\"" : "";
        }
        body += element.toUtf8() + "/>\n";
    }

    QBrush brush_;
    QPen pen_;
    QTransform transform_;
    int gradients_ = 0;
};

class SvgDevice final : public QPaintDevice {
public:
    explicit SvgDevice(int size) : size_(size) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    QByteArray document() const
    {
        return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                   .arg(size_)
                   .toUtf8() +
               engine_.body + "</svg>\n";
    }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: case PdmHeight: return size_;
        case PdmWidthMM: case PdmHeightMM: return size_ * 254 / 960;
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDepth: return 32;
        case PdmNumColors: return 0x7fffffff;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    int size_;
    mutable SvgEngine engine_;
};

QImage Logo(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    DrawBird(p, QRectF(0, 0, size, size));
    p.end();
    return img;
}

QByteArray LogoSvg()
{
    SvgDevice svg(128);
    QPainter p(&svg);
    DrawBird(p, QRectF(0, 0, 128, 128));
    p.end();
    return svg.document();
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = Write(folder + "/main_skin.bin", StoredJpeg(Skin(), 92)) &&
              Write(folder + "/about_photo.bin", StoredJpeg(Photo(), 90)) &&
              Write(folder + "/mainicon.bmp", IconBitmap(Logo(32)));
    const QString theme = folder + "/icons/hicolor/";
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString apps = theme + QStringLiteral("%1x%1/apps").arg(size);
        ok = ok && QDir().mkpath(apps) && Logo(size).save(apps + "/pictavo.png");
    }
    ok = ok && QDir().mkpath(theme + "scalable/apps") && Write(theme + "scalable/apps/pictavo.svg", LogoSvg());
    if (ok) {
        Skin().save(folder + "/preview_skin.png");
        Photo().save(folder + "/preview_photo.png");
    }
    return ok ? 0 : 1;
}
