// The JPEG adapter: one object per picture, holding the file's bytes and the
// facts of its header, the decoded or handed-in raster, and the settings the
// encoder uses. All coding goes through libjpeg with fixed parameters, so
// decoded pixels and encoded bytes are reproducible.
#pragma once

#include "codecs/ByteStream.h"
#include "base/Files.h"
#include "codecs/jpeg/JpegError.h"
#include "codecs/jpeg/JpegHeader.h"
#include "codecs/PictureSource.h"
#include "base/Errors.h"
#include "imaging/Raster24.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pictavo {

// The datastream and what its header says.
struct TJPEGData {
    std::vector<std::uint8_t> bytes;
    bool hasBytes = false;  // false until a file is loaded or an encoding made
    JpegHeader header;
};

// Copied into every new TJPEGImage. Start-up sets decodesToPalette from the
// display; nothing else changes them.
struct JpegDefaults {
    std::uint8_t quality = 90;
    bool progressiveOutput = false;
    bool decodesToPalette = false;
};
JpegDefaults& JPEGDefaults();

class TJPEGImage {
public:
    TJPEGImage();

    // Reads the whole file and its header. Errors name the file as
    // `shownName` (the path itself when empty). A file that does not start
    // as a JPEG datastream is refused before the rest of it is read.
    void loadFromFile(const std::string& path, const std::string& shownName = {});
    // Reads the header now and the pixels when decoded, straight from the
    // open file: its bytes are never held, so the datastream is not kept
    // (encodedBytes() encodes a picture handed in later).
    void streamFromFile(const std::string& path, const std::string& shownName = {});
    // Tells that the caller holds `bytes` of the memory budget for the
    // decode (decodeMemory(), reserved): the library's arrays are held to
    // them and no check of its own is made. Unset, each decode checks its
    // need against the budget before it takes anything.
    void setReservedMemory(std::uint64_t bytes) { reserved_ = bytes; }
    // Decodes at 1/denominator of the size (1, 2, 4 or 8) by the library's
    // scaled inverse DCT: far less work, but not the exact pixels. At an
    // eighth, a progressive file's scans of AC coefficients are not read.
    void setDecodeScale(int denominator) { scale_ = denominator; }
    // A side of `size` pixels decoded at 1/denominator, rounded as the library does.
    static int ScaledSide(int size, int denominator) { return (size + denominator - 1) / denominator; }
    // Memory decodeRows needs at full size (less when scaled): the library's
    // row buffers, for multi-scan files the whole coefficient buffer, and the
    // rows on their way.
    std::uint64_t decodeMemory() const;
    // A payload: a 32-bit little-endian count, then that many JPEG bytes.
    void readEmbedded(ByteStream& stream);
    // Takes the datastream as it is and reads its header.
    void loadFromBytes(std::vector<std::uint8_t> bytes);

    int width() const;
    int height() const;
    // What the header of the datastream says.
    const JpegHeader& header() const { return data_.header; }
    bool gray() const { return data_.header.colour == JpegColour::Grey; }
    bool multiScan() const { return data_.header.multiScan; }
    int orientation() const { return data_.header.orientation; }
    std::uint64_t decodeCost() const { return data_.header.decodeCost; }
    // The ICC profile the decoded rows are in; empty when they are sRGB, as
    // for CMYK files, whose profile is applied while decoding.
    const std::vector<std::uint8_t>& iccProfile() const;
    // The damage the last decoding read past.
    const DecodeWarnings& warnings() const { return warnings_; }

    // Decodes on first use; later calls hand over the same picture.
    void decodeInto(Raster24& destination);
    // Decodes without keeping the picture: each row, from the top, as
    // 24-bit blue, green, red bytes, the same as decodeInto's after make24Bit.
    // Once the data has ended, the rows left, all one value, go on as a count.
    void decodeRows(const RowSink& consumer);
    // Replaces the datastream by an empty one and the picture by `source`.
    void takeRaster(const Raster24& source);

    std::uint8_t encodeQuality() const { return quality_; }
    void setEncodeQuality(std::uint8_t quality);
    // Whether the picture is encoded progressive; one that was read is
    // written again the way it was stored.
    bool progressiveOutput() const { return writesProgressive_; }
    void setProgressiveOutput(bool on) { writesProgressive_ = on; }
    // Whether a colour picture is decoded through the library's quantizer
    // into a palette of PaletteColours, for screens of 256 colours.
    bool decodesToPalette() const { return decodesToPalette_; }
    void setDecodesToPalette(bool on) { decodesToPalette_ = on; }

    // The datastream, encoding the picture first when there is none.
    const std::vector<std::uint8_t>& encodedBytes();
    // Writes encodedBytes() to `path`, all or nothing.
    void saveToFile(const std::string& path, const std::string& shownName = {});

private:
    // Where the library's rows go.
    struct RowTarget {
        virtual ~RowTarget() = default;
        virtual void start(int width, int height, PixelFormat format, std::vector<PaletteEntry> palette) = 0;
        // Where row r goes; `slot` counts the rows of one library call.
        virtual std::uint8_t* row(int r, int slot) = 0;
        virtual void rowDone(int r, int slot) = 0;
        virtual void abandon(int fromRow) = 0;  // the library failed at this row
        // Offers the rows from `fromRow` to the end, all equal to `bgr`; true
        // when taken, and then the library is not asked for them.
        virtual bool takeRest(const std::uint8_t*, int) { return false; }
    };

    void readHeader();
    void decode();
    void run(RowTarget& target, bool wholeRaster);
    void encode();

    // The library reads the datastream from memory or from the streamed file.
    template <class D>
    void attachSource(D& decompressor) const;

    TJPEGData data_;
    std::shared_ptr<FileDescriptor> file_;
    // The decompressor that read a streamed file's header, for its first
    // decode to go on with rather than read the header again.
    std::unique_ptr<jpeg::Decompressor> opened_;
    std::uint64_t reserved_ = 0;  // 0: none, the decode checks its need itself
    int scale_ = 1;
    Raster24 raster_;
    bool hasRaster_ = false;
    std::uint8_t quality_;
    bool writesProgressive_;
    bool decodesToPalette_;
    DecodeWarnings warnings_;
};

}  // namespace pictavo
