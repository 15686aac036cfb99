// The process-wide list of picture formats: which picture class reads files
// of an extension, and which class a stored picture names. The desktop
// program's preview and its window pictures load through it.
#pragma once

#include "codecs/ByteStream.h"
#include "imaging/Raster24.h"

#include <functional>
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

// The program's own formats: "jpeg" then "jpg" as "JPEG Image File", and
// "bmp" as "Bitmaps".
void RegisterJpegFormats();
void UnregisterJpegFormats();
void RegisterBitmapFormat();
void UnregisterBitmapFormat();

}  // namespace pictavo
