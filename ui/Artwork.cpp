#include "ui/Artwork.h"

#include "codecs/bmp/BmpReader.h"
#include "codecs/PictureFormats.h"

#include <QFile>

#include <cstring>

namespace pictavo::ui {
namespace {

QByteArray Resource(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

QImage ToImage(Raster24 raster)
{
    raster.make24Bit();
    QImage image(raster.width(), raster.height(), QImage::Format_BGR888);
    for (int y = 0; y < raster.height(); ++y)
        std::memcpy(image.scanLine(y), std::as_const(raster).scanLine(y), static_cast<std::size_t>(raster.width()) * 3);
    return image;
}

QImage StoredPicture(const QString& resource)
{
    const QByteArray bytes = Resource(resource);
    if (bytes.isEmpty()) return QImage();
    ByteStream stream(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    Raster24 picture;
    ReadStoredPicture(stream, picture);
    return picture.width() > 0 ? ToImage(picture) : QImage();
}

QImage MainIcon()
{
    const QByteArray bytes = Resource(QStringLiteral(":/artwork/mainicon.bmp"));
    Raster24 icon;
    LoadBitmapBytes(icon, reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    return ToImage(icon);
}

}  // namespace pictavo::ui
