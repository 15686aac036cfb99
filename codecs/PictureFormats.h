// The picture formats: the one table of each format's extensions, signature
// and decoder, and the stored pictures of the windows' artwork.
#pragma once

#include "codecs/ByteStream.h"
#include "codecs/PictureSource.h"
#include "imaging/Raster24.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictavo {

// A stored picture (the windows' artwork): a length byte and the class
// name, then the class's payload. Only "TJPEGImage" is read; any other
// class leaves the picture empty.
void ReadStoredPicture(ByteStream& stream, Raster24& picture);

// The picture files the resize run reads: the one place that knows each
// format's extensions and signature, and which decoder reads it.
struct PictureKind {
    std::string name;  // "JPEG", "PNG", ...
    // What the help calls the files of this kind, e.g. "HEIC/HEIF", "AVIF".
    std::vector<std::string> shownNames;
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

}  // namespace pictavo
