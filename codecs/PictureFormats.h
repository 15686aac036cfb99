// The process-wide list of picture formats: which picture class reads files
// of an extension, and which class a stored picture names. The desktop
// program's preview and its window pictures load through it.
#pragma once

#include "codecs/ByteStream.h"
#include "codecs/PictureSource.h"
#include "imaging/Raster24.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

struct PictureClass {
    std::string name;  // e.g. "TJPEGImage"
    // A file into a picture, shown upright.
    std::function<void(const std::string& path, Raster24& picture)> loadFile;
    // A stored payload into a picture; empty when the class has none.
    std::function<void(ByteStream& stream, Raster24& picture)> readEmbedded;
};

struct PictureFormat {
    std::string extension;  // without the dot, lower case
    std::string description;
    PictureClass pictureClass;
};

void RegisterFileFormat(const std::string& extension, const std::string& description, const PictureClass& cls);
// Removes every entry bound to the class.
void UnregisterPictureClass(const std::string& className);
std::vector<PictureFormat> RegisteredFormats();

// Loads `path` with the class registered for its extension (letter case
// ignored). Returns false when no class is registered for it; loader errors
// propagate.
bool LoadPictureFile(const std::string& path, Raster24& picture);

// A stored picture: a length byte and the class name, then the class's
// payload. A class that is not registered leaves the picture empty.
void ReadStoredPicture(ByteStream& stream, Raster24& picture);

// The picture files the resize run reads: the one place that knows each
// format's extensions and signature, and which decoder reads it.
struct PictureKind {
    std::string name;  // "JPEG", "PNG", ...
    // Lower case, without the dot. The first `classicCount` are the ones a
    // listing of that format alone takes (".jpe" only joins mixed folders).
    std::vector<std::string> extensions;
    std::size_t classicCount;
    bool (*signature)(const std::uint8_t* start, std::size_t size);
    std::unique_ptr<PictureSource> (*open)(const std::string& path, const std::string& shownName);
};
const std::vector<PictureKind>& PictureKinds();
const PictureKind& JpegKind();
const PictureKind& BitmapKind();

// Bytes enough to tell every format by its start.
inline constexpr std::size_t SignatureBytes = 16;

// The lower-case extension of a file name, without the dot; "" when none.
std::string LowerExtension(const std::string& name);
// The kind a file name's extension belongs to (any letter case), or none.
const PictureKind* KindOfName(const std::string& name, bool classicOnly = false);
// The kind whose signature starts `start`, or none.
const PictureKind* KindOfContent(const std::uint8_t* start, std::size_t size);

// The kind whose signature starts the file at `path`, or none (also when
// it cannot be read).
const PictureKind* KindOfFile(const std::string& path) noexcept;

// Opens a picture by what it holds: its signature picks the decoder, so a
// PNG named .jpg is read as PNG. A file whose signature matches no format
// goes to the decoder of `fallback`, or else of its extension, which says
// what is wrong with it.
std::unique_ptr<PictureSource> OpenPictureByContent(const std::string& path, const std::string& shownName,
                                                    const PictureKind* fallback = nullptr);

// The program's own formats: "jpeg" then "jpg" as "JPEG Image File", and
// "bmp" as "Bitmaps".
void RegisterJpegFormats();
void UnregisterJpegFormats();
void RegisterBitmapFormat();
void UnregisterBitmapFormat();

}  // namespace pictavo
