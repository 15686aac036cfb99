#include "codecs/PictureFormats.h"

#include "codecs/BmpReader.h"
#include "codecs/Files.h"
#include "codecs/HeifSource.h"
#include "codecs/JpegSource.h"
#include "codecs/PngSource.h"
#include "codecs/TiffSource.h"
#include "codecs/WebpSource.h"
#include "codecs/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "imaging/Orient.h"

#include <algorithm>
#include <mutex>

namespace pictavo {
namespace {

std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<PictureFormat>& Registry()
{
    static std::vector<PictureFormat> formats;
    return formats;
}

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

void LoadJpeg(TJPEGImage& jpeg, Raster24& picture)
{
    Raster24 decoded;
    jpeg.decodeInto(decoded);
    picture = Orient(decoded, jpeg.orientation());
    // Shown as the resize run will write it.
    ConvertToSrgb(picture, ProfileForRows(jpeg.iccProfile(), jpeg.gray()));
}

PictureClass JpegClass()
{
    PictureClass cls;
    cls.name = "TJPEGImage";
    cls.loadFile = [](const std::string& path, Raster24& picture) {
        TJPEGImage jpeg;
        jpeg.loadFromFile(path);
        LoadJpeg(jpeg, picture);
    };
    cls.readEmbedded = [](ByteStream& stream, Raster24& picture) {
        TJPEGImage jpeg;
        jpeg.readEmbedded(stream);
        LoadJpeg(jpeg, picture);
    };
    return cls;
}

PictureClass BitmapClass()
{
    PictureClass cls;
    cls.name = "TBitmap";
    cls.loadFile = [](const std::string& path, Raster24& picture) { LoadBitmapFile(picture, path); };
    return cls;
}

}  // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description, const PictureClass& cls)
{
    std::lock_guard guard(RegistryLock());
    Registry().push_back({Lower(extension), description, cls});
}

void UnregisterPictureClass(const std::string& className)
{
    std::lock_guard guard(RegistryLock());
    std::erase_if(Registry(), [&](const PictureFormat& f) { return f.pictureClass.name == className; });
}

std::vector<PictureFormat> RegisteredFormats()
{
    std::lock_guard guard(RegistryLock());
    return Registry();
}

bool LoadPictureFile(const std::string& path, Raster24& picture)
{
    const std::string extension = LowerExtension(path);
    if (extension.empty()) return false;
    PictureClass cls;
    {
        std::lock_guard guard(RegistryLock());
        const auto& formats = Registry();
        const auto it = std::find_if(formats.begin(), formats.end(),
                                     [&](const PictureFormat& f) { return f.extension == extension; });
        if (it == formats.end() || !it->pictureClass.loadFile) return false;
        cls = it->pictureClass;
    }
    cls.loadFile(path, picture);
    return true;
}

void ReadStoredPicture(ByteStream& stream, Raster24& picture)
{
    std::uint8_t length = 0;
    stream.readExactly(&length, 1);
    std::string name(length, '\0');
    stream.readExactly(name.data(), length);
    PictureClass cls;
    {
        std::lock_guard guard(RegistryLock());
        const auto& formats = Registry();
        const auto it = std::find_if(formats.begin(), formats.end(),
                                     [&](const PictureFormat& f) { return f.pictureClass.name == name; });
        if (it == formats.end() || !it->pictureClass.readEmbedded) {
            picture.release();
            return;
        }
        cls = it->pictureClass;
    }
    cls.readEmbedded(stream, picture);
}

const std::vector<PictureKind>& PictureKinds()
{
    static const std::vector<PictureKind> kinds = {
        {"JPEG", {"jpg", "jpeg", "jpe"}, 2, IsJpegSignature, OpenJpegSource},
        {"PNG", {"png"}, 1, IsPngSignature, OpenPngSource},
        {"WebP", {"webp"}, 1, IsWebpSignature, OpenWebpSource},
        {"HEIF", {"heic", "heif", "avif"}, 3, IsHeifSignature, OpenHeifSource},
        {"TIFF", {"tif", "tiff"}, 2, IsTiffSignature, OpenTiffSource},
        {"BMP", {"bmp"}, 1, IsBitmapSignature, OpenBitmapSource},
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

void RegisterJpegFormats()
{
    RegisterFileFormat("jpeg", "JPEG Image File", JpegClass());
    RegisterFileFormat("jpg", "JPEG Image File", JpegClass());
}

void UnregisterJpegFormats() { UnregisterPictureClass("TJPEGImage"); }
void RegisterBitmapFormat() { RegisterFileFormat("bmp", "Bitmaps", BitmapClass()); }
void UnregisterBitmapFormat() { UnregisterPictureClass("TBitmap"); }

}  // namespace pictavo
