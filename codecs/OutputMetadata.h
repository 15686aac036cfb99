// Metadata an output carries, written with each container's own support
// (JPEG APP1, WebP EXIF/XMP chunks, AVIF items, JPEG XL boxes, PNG
// eXIf/iTXt). Empty parts are not written.
#pragma once

#include <string>

namespace pictavo {

struct OutputMetadata {
    std::string exif;  // a TIFF block ("II*\0" or "MM\0*" ...), without "Exif\0\0"
    std::string xmp;   // an XMP packet
};

}  // namespace pictavo
