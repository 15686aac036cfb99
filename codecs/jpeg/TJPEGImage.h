// The JPEG adapter: one object per picture, holding the file's bytes and the
// facts of its header, the decoded or handed-in raster, and the settings the
// encoder uses. All coding goes through libjpeg with fixed parameters, so
// decoded pixels and encoded bytes are reproducible.
#pragma once

#include "codecs/ByteStream.h"
#include "base/Files.h"
#include "codecs/jpeg/JpegError.h"
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
    int width = 0;
    int height = 0;
    bool gray = false;
    int orientation = 1;  // EXIF orientation, 1 when absent or unreadable
    std::vector<std::uint8_t> iccProfile;  // the embedded ICC profile, if any
    bool cmyk = false;                     // four components: CMYK or YCCK
    // The work a decode takes, in sample units: the samples every component
    // holds, ten times over for multi-scan files, whose smoothing and
    // coefficient passes cost about that much more.
    std::uint64_t decodeCost = 0;
    // What decodeMemory() tells, worked out with the header.
    std::uint64_t streamDecodeMemory = 0;
    bool multiScan = false;  // progressive, or sequential in several scans
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
    // The most memory the library may take for its arrays while decoding;
    // the whole memory budget unless set.
    void setDecodeMemoryLimit(std::uint64_t bytes) { memoryLimit_ = bytes; }
    // Decodes at 1/denominator of the size (1, 2, 4 or 8) by the library's
    // scaled inverse DCT: far less work, but not the exact pixels. At an
    // eighth, a progressive file's scans of AC coefficients are not read.
    void setDecodeScale(int denominator) { scale_ = denominator; }
    // A side of `size` pixels decoded at 1/denominator, rounded as the library does.
    static int ScaledSide(int size, int denominator) { return (size + denominator - 1) / denominator; }
    // Memory a decode row by row needs: the library's row buffers and, for
    // multi-scan files, the whole coefficient buffer.
    std::uint64_t decodeMemory() const;
    // A payload: a 32-bit little-endian count, then that many JPEG bytes.
    void readEmbedded(ByteStream& stream);
    // Takes the datastream as it is and reads its header.
    void loadFromBytes(std::vector<std::uint8_t> bytes);

    int width() const;
    int height() const;
    bool gray() const { return data_.gray; }
    bool multiScan() const { return data_.multiScan; }
    int orientation() const { return data_.orientation; }
    std::uint64_t decodeCost() const { return data_.decodeCost; }
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
    std::uint64_t memoryLimit_ = 0;  // 0: the whole budget
    int scale_ = 1;
    Raster24 raster_;
    bool hasRaster_ = false;
    std::uint8_t quality_;
    bool writesProgressive_;
    bool decodesToPalette_;
    DecodeWarnings warnings_;
};

}  // namespace pictavo
