#include "codecs/PictureFormats.h"

#include "codecs/BmpReader.h"
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

void LoadJpeg(TJPEGImage& jpeg, Raster24& picture)
{
    Raster24 decoded;
    jpeg.decodeInto(decoded);
    picture = Orient(decoded, jpeg.orientation());
    // Shown as the resize run will write it.
    if (!jpeg.gray()) ConvertToSrgb(picture, jpeg.iccProfile());
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
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    const std::string extension = Lower(path.substr(dot + 1));
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

void RegisterJpegFormats()
{
    RegisterFileFormat("jpeg", "JPEG Image File", JpegClass());
    RegisterFileFormat("jpg", "JPEG Image File", JpegClass());
}

void UnregisterJpegFormats() { UnregisterPictureClass("TJPEGImage"); }
void RegisterBitmapFormat() { RegisterFileFormat("bmp", "Bitmaps", BitmapClass()); }
void UnregisterBitmapFormat() { UnregisterPictureClass("TBitmap"); }

}  // namespace pictavo
