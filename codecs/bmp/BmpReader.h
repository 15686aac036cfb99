// Windows and OS/2 bitmap files into a Raster24, decoded by the program's own
// code: 1, 4 and 8-bit indexed, 16 and 32-bit with or without masks, 24-bit,
// and the 8 and 4-bit run-length encodings.
#pragma once

#include "codecs/PictureSource.h"
#include "imaging/Raster24.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pictavo {

// The sizes of a bitmap's headers: the file header, then the info header
// whose first four bytes give its own size, which says its version.
inline constexpr std::size_t BitmapFileHeaderSize = 14;
inline constexpr std::uint32_t BitmapCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sides
inline constexpr std::uint32_t BitmapInfoHeaderSize = 40;
inline constexpr std::uint32_t BitmapV5HeaderSize = 124;

// Loads the file at `path` into `raster`. On failure the raster is left as it
// was and the message is one of "Cannot open file <shownName>", "Stream read
// error", "Bitmap image is not valid" or "Out of memory". An empty file
// gives an empty raster.
void LoadBitmapFile(Raster24& raster, const std::string& path, const std::string& shownName = {});

// The same reading over bytes already in memory.
void LoadBitmapBytes(Raster24& raster, const std::uint8_t* data, std::size_t size);

// Opens a bitmap file for the resize pipeline: its rows stream from the
// file, bottom row first for bottom-up files, whatever the layout. The
// errors are those of LoadBitmapFile.
std::unique_ptr<PictureSource> OpenBitmapSource(const std::string& path, const std::string& shownName);

// Decodes run-length data (bits 8: encoding 1, bits 4: encoding 2) into
// `picture`, a raster of 24-bit colours whose pixels start black. Rows run
// from the bottom up; runs and deltas that leave the picture write nothing.
void DecodeBitmapRle(const std::uint8_t* data, std::size_t size, int bits,
                     const std::vector<PaletteEntry>& palette, Raster24& picture);
// The same rows handed on one at a time as blue, green, red bytes, in
// stored order (the bottom row first); rows the data jumps over go on as a
// count. False when the data end before the picture does: the rows left are
// black, and with no data at all none is handed on the plain way.
using RleRowSink = RowSink;
bool DecodeBitmapRleRows(const std::uint8_t* data, std::size_t size, int bits,
                         const std::vector<PaletteEntry>& palette, int width, int rows, const RleRowSink& sink);

}  // namespace pictavo
