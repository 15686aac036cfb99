#include "codecs/PictureFormats.h"

#include "codecs/bmp/BmpReader.h"
#include "base/Files.h"
#include "codecs/heif/HeifSource.h"
#include "codecs/jpeg/JpegSource.h"
#include "codecs/png/PngSource.h"
#include "codecs/tiff/TiffSource.h"
#include "codecs/webp/WebpSource.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "imaging/Orient.h"

#include <algorithm>

namespace pictavo {
namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return s;
}

bool IsJpegSignature(const std::uint8_t* start, std::size_t size)
{
    return size >= 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

bool IsBitmapSignature(const std::uint8_t* start, std::size_t size)
{
    return size >= 2 && start[0] == 'B' && start[1] == 'M';
}

}  // namespace

void ReadStoredPicture(ByteStream& stream, Raster24& picture)
{
    std::uint8_t length = 0;
    stream.readExactly(&length, 1);
    std::string name(length, '\0');
    stream.readExactly(name.data(), length);
    if (name != "TJPEGImage") {
        picture.release();
        return;
    }
    TJPEGImage jpeg;
    jpeg.readEmbedded(stream);
    Raster24 decoded;
    jpeg.decodeInto(decoded);
    picture = Orient(decoded, jpeg.orientation());
    ConvertToSrgb(picture, ProfileForRows(jpeg.iccProfile(), jpeg.gray()));
}

const std::vector<PictureKind>& PictureKinds()
{
    static const std::vector<PictureKind> kinds = {
        {"JPEG", {"JPEG"}, {"jpg", "jpeg", "jpe"}, 2, IsJpegSignature, OpenJpegSource},
        {"PNG", {"PNG"}, {"png"}, 1, IsPngSignature, OpenPngSource},
        {"WebP", {"WebP"}, {"webp"}, 1, IsWebpSignature, OpenWebpSource},
        {"HEIF", {"HEIC/HEIF", "AVIF"}, {"heic", "heif", "avif"}, 3, IsHeifSignature, OpenHeifSource},
        {"TIFF", {"TIFF"}, {"tif", "tiff"}, 2, IsTiffSignature, OpenTiffSource},
        {"BMP", {"BMP"}, {"bmp"}, 1, IsBitmapSignature, OpenBitmapSource},
    };
    return kinds;
}

const PictureKind& JpegKind() { return PictureKinds().front(); }
const PictureKind& BitmapKind() { return PictureKinds().back(); }

std::string LowerExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(name.substr(dot + 1));
}

const PictureKind* KindOfName(const std::string& name, bool classicOnly)
{
    const std::string extension = LowerExtension(name);
    for (const PictureKind& kind : PictureKinds()) {
        const auto end = kind.extensions.begin() + static_cast<std::ptrdiff_t>(classicOnly ? kind.classicCount
                                                                                            : kind.extensions.size());
        if (std::find(kind.extensions.begin(), end, extension) != end) return &kind;
    }
    return nullptr;
}

const PictureKind* KindOfContent(const std::uint8_t* start, std::size_t size)
{
    for (const PictureKind& kind : PictureKinds())
        if (kind.signature(start, size)) return &kind;
    return nullptr;
}

namespace {

const PictureKind* KindOfOpenFile(const std::string& path, const std::string& shownName)
{
    std::uint8_t start[SignatureBytes];
    const FileDescriptor fd = OpenRegularFile(path, shownName);
    return KindOfContent(start, ReadUpTo(fd.get(), start, sizeof start));
}

}  // namespace

const PictureKind* KindOfFile(const std::string& path) noexcept
{
    try {
        return KindOfOpenFile(path, path);
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<PictureSource> OpenPictureByContent(const std::string& path, const std::string& shownName,
                                                    const PictureKind* fallback)
{
    const PictureKind* kind = KindOfOpenFile(path, shownName);
    if (!kind) kind = fallback;
    if (!kind) kind = KindOfName(path);
    if (!kind) kind = &JpegKind();  // listed by name, so this does not happen; say what JPEG says
    return kind->open(path, shownName);
}

}  // namespace pictavo
