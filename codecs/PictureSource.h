// A decoder as the resize pipeline sees it: first the facts of the header,
// known before any pixel is decoded and before memory is taken, then the
// rows one at a time, so the picture streams through the reducer.
#pragma once

#include "codecs/OutputMetadata.h"

#include "base/MemoryBudget.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace pictavo {

struct PictureHeader {
    int width = 0;  // as stored, before the orientation is applied
    int height = 0;
    int orientation = 1;    // EXIF orientation 1 ... 8 of the stored picture
    bool bottomUp = false;  // rows arrive from the bottom row up
    bool gray = false;      // every delivered row has blue = green = red
    bool alpha = false;     // the picture has transparency: rows can keep it (see RowDelivery)
    // The ICC profile the delivered rows are in; empty for sRGB.
    std::vector<std::uint8_t> iccProfile;
    // How the output is written when the picture was a JPEG: a progressive
    // one stays progressive. Other formats leave it to the defaults.
    std::optional<bool> progressive;
    // Roughly how much work the decode is, to start costly pictures first;
    // 0 when the decoder cannot tell (then the pixel count stands in).
    std::uint64_t decodeCost = 0;
    // Memory the decode itself needs besides one delivered row: library
    // buffers, file bytes held, whole pictures of formats that cannot stream.
    // The run reserves it before readRows, and readRows takes no more; a
    // source checks it against the budget once, as it reads its header, so
    // a picture too large fails there even outside a run. Only sizes a file
    // declares as it decodes are checked again where they are met.
    std::uint64_t decodeMemory = 0;
    // The decode's work grows with the file's data, not with the size it
    // declares, so the picture is read whatever its size: rows past the end
    // of the data cost nothing.
    bool workFollowsData = false;
};

// What a header declares, with the one row the source hands on, checked
// against the budget: each source calls it as it reads its header.
inline void CheckDeclaredMemory(const PictureHeader& header)
{
    CheckMemoryBudget(header.decodeMemory + 3 * static_cast<std::uint64_t>(header.width));
}

// Damage a decoder read past: the library's text of the first warning and
// how many there were.
struct DecodeWarnings {
    int count = 0;
    std::string text;
};

// How a picture with transparency delivers its rows: as 4 * width bytes of
// blue, green, red and alpha (colour not multiplied by alpha), or as 3 *
// width bytes of blue, green, red composited over a background.
struct RowDelivery {
    bool keepAlpha = false;
    std::array<std::uint8_t, 3> background{255, 255, 255};  // blue, green, red
};

// Where a decoder's rows go. A row is 3 * width bytes of blue, green, red,
// transparency already composited over the background; 4 * width bytes when
// the picture has alpha and its delivery keeps it. Rows known to repeat (rows
// past the end of the file's data are all one value) go on as one row and a
// count, and cost no more than one row however many there are. A picture
// must deliver at least one row the plain way: rows made up for data that is
// not there are no picture.
class RowSink {
public:
    using Each = std::function<void(const std::uint8_t* row)>;
    using Repeat = std::function<void(const std::uint8_t* row, std::int64_t count)>;

    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, RowSink> && std::is_invocable_v<F&, const std::uint8_t*>)
    RowSink(F each) : each_(std::move(each))
    {
    }
    RowSink(Each each, Repeat repeat) : each_(std::move(each)), repeat_(std::move(repeat)) {}

    // One decoded row.
    void operator()(const std::uint8_t* row) const { each_(row); }
    // `count` rows, each equal to `row`.
    void repeat(const std::uint8_t* row, std::int64_t count) const
    {
        if (repeat_) return repeat_(row, count);
        for (; count > 0; --count) each_(row);
    }

private:
    Each each_;
    Repeat repeat_;
};

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual const PictureHeader& header() const = 0;
    // Decodes once, handing every row to `sink` in order: the top row first,
    // or the bottom row first when header().bottomUp. Errors are exceptions
    // carrying the message the user sees.
    virtual void readRows(const RowSink& sink) = 0;
    virtual DecodeWarnings warnings() const { return {}; }
    // Lets the decoder deliver the picture 2, 4 or 8 times smaller across
    // and down where that costs it less, still at least minWidth x minHeight:
    // the factor it chose, 1 when it keeps the full size. header() then tells
    // the size of the rows; their pixels are no longer the exact ones.
    // Before readRows. Most formats always decode at full size.
    virtual int decodeSmaller(int minWidth, int minHeight)
    {
        (void)minWidth;
        (void)minHeight;
        return 1;
    }
    // The whole file when the decoder holds it, so its metadata is read
    // without reading the file again; empty when the file is read as it goes.
    virtual std::span<const std::uint8_t> fileBytes() const { return {}; }
    // The EXIF and XMP blocks of a container only the decoder's own library
    // reads (HEIF, AVIF); nothing for the others.
    virtual std::optional<OutputMetadata> containerMetadata() const { return std::nullopt; }
    // Before readRows: how transparency comes out (over white by default).
    void setDelivery(const RowDelivery& delivery) { delivery_ = delivery; }

protected:
    // True when rows come with alpha.
    bool keepsAlpha() const { return delivery_.keepAlpha && header().alpha; }
    RowDelivery delivery_;
};

}  // namespace pictavo
