// A JPEG header as one plain record, read the same way wherever a JPEG is
// opened: the adapter's header and decode passes and the window's preview.
// The memory a decode takes is worked out from it by one formula, so what
// a run reserves from the header is what the decode is held to.
#pragma once

#include "codecs/jpeg/JpegLibrary.h"
#include "imaging/Raster24.h"

#include <cstdint>
#include <vector>

namespace pictavo {

// The colour space the file stores its components in.
enum class JpegColour { Grey, Colour, Cmyk, Ycck, Other };

struct JpegHeader {
    int width = 0;
    int height = 0;
    int components = 0;
    JpegColour colour = JpegColour::Other;
    bool multiScan = false;    // progressive, or sequential in several scans
    bool progressive = false;  // progressive coding (a multi-scan file may be sequential)
    bool arithmetic = false;   // arithmetic rather than Huffman coding
    // A multi-scan file's decode holds every coefficient of the picture.
    std::uint64_t coefficientMemory = 0;
    // The work a decode takes, in sample units: the samples every component
    // holds, ten times over for multi-scan files, whose smoothing and
    // coefficient passes cost about that much more.
    std::uint64_t decodeCost = 0;
    // Read only when the markers are: the EXIF orientation (1 when absent or
    // unreadable) and the embedded ICC profile (empty when none or damaged).
    int orientation = 1;
    std::vector<std::uint8_t> iccProfile;

    bool fourComponents() const { return colour == JpegColour::Cmyk || colour == JpegColour::Ycck; }
};

// Rows the library is asked for at a time.
constexpr int JpegRowsPerCall = 8;

// Reads the header of the datastream attached to `d`; call after the
// operation's setjmp, as library errors jump there. With `markers`, the
// EXIF and ICC segments are kept (their sizes checked against the memory
// budget first) and read into the record.
JpegHeader ReadJpegHeader(jpeg::Decompressor& d, bool markers);

// How a decode delivers its rows, which decides the memory it takes.
struct JpegRows {
    PixelFormat format = PixelFormat::Bgr24;  // of the rows the library writes for the target
    bool wholeRaster = false;                 // kept whole, or handed on a call's worth at a time
    int scaleNum = 1, scaleDenom = 1;         // the library's scaled decoding
    bool inks = false;       // CMYK rows turned into sRGB on the way (CmykRows)
    bool greyLevels = false; // grey rows dithered to their levels on the way (GreyRows)
};

// The adapter's rows: four components come out as CMYK and are turned into
// sRGB; grey pictures are dithered, kept whole as palette levels; colour
// ones go through the library's quantizer when `toPalette`, else blue,
// green, red.
JpegRows AdapterRows(const JpegHeader& header, bool toPalette, bool wholeRaster, int scaleDenom);

// The memory a decode takes before its first row: the rows it writes (the
// whole raster, or a call's worth), the library's row buffers, a multi-scan
// file's coefficient buffer, and the adapter's own row buffers.
std::uint64_t DecodeMemory(const JpegHeader& header, const JpegRows& rows);

}  // namespace pictavo
