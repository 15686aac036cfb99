#include "codecs/jpeg/JpegHeader.h"

#include "imaging/ColourProfile.h"

namespace pictavo {
namespace {

JpegColour ColourOf(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_GRAYSCALE: return JpegColour::Grey;
    case JCS_YCbCr: case JCS_RGB: return JpegColour::Colour;
    case JCS_CMYK: return JpegColour::Cmyk;
    case JCS_YCCK: return JpegColour::Ycck;
    default: return JpegColour::Other;
    }
}

// The library keeps each component's blocks rounded up to whole MCUs.
std::uint64_t CoefficientMemory(const jpeg_decompress_struct& cinfo)
{
    std::uint64_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        const std::uint64_t h = comp.h_samp_factor > 0 ? comp.h_samp_factor : 1;
        const std::uint64_t v = comp.v_samp_factor > 0 ? comp.v_samp_factor : 1;
        const std::uint64_t across = (comp.width_in_blocks + h - 1) / h * h;
        const std::uint64_t down = (comp.height_in_blocks + v - 1) / v * v;
        bytes += across * down * sizeof(JBLOCK);
    }
    return bytes;
}

std::uint64_t Samples(const jpeg_decompress_struct& cinfo)
{
    std::uint64_t samples = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        samples += std::uint64_t(comp.width_in_blocks) * comp.height_in_blocks * DCTSIZE2;
    }
    return samples;
}

std::uint64_t Scaled(std::uint64_t side, const JpegRows& rows)
{
    // As the library rounds its output size.
    const std::uint64_t num = static_cast<std::uint64_t>(rows.scaleNum), denom = static_cast<std::uint64_t>(rows.scaleDenom);
    return (side * num + denom - 1) / denom;
}

}  // namespace

JpegHeader ReadJpegHeader(jpeg::Decompressor& d, bool markers)
{
    if (markers) {
        jpeg::CheckSavedMarkers(d.source);
        jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile chunks
    }
    jpeg_read_header(&d.cinfo, TRUE);
    d.headerRead = true;
    const bool multiScan = jpeg_has_multiple_scans(&d.cinfo);
    // The last library call: nothing with a destructor lives while it runs.
    std::vector<std::uint8_t> icc = markers ? jpeg::EmbeddedProfile(&d.cinfo) : std::vector<std::uint8_t>();
    constexpr std::uint64_t MultiScanFactor = 10;
    const jpeg_decompress_struct& c = d.cinfo;
    return {
        .width = static_cast<int>(c.image_width),
        .height = static_cast<int>(c.image_height),
        .components = c.num_components,
        .colour = ColourOf(c.jpeg_color_space),
        .multiScan = multiScan,
        .progressive = c.progressive_mode != 0,
        .arithmetic = c.arith_code != 0,
        .coefficientMemory = multiScan ? CoefficientMemory(c) : 0,
        .decodeCost = Samples(c) * (multiScan ? MultiScanFactor : 1),
        .orientation = markers ? jpeg::SavedOrientation(c) : 1,
        .iccProfile = std::move(icc),
    };
}

JpegRows AdapterRows(const JpegHeader& header, bool toPalette, bool wholeRaster, int scaleDenom)
{
    JpegRows rows{.wholeRaster = wholeRaster, .scaleDenom = scaleDenom};
    rows.inks = header.components == 4;
    rows.greyLevels = !rows.inks && header.colour == JpegColour::Grey;
    const bool quantized = !rows.inks && !rows.greyLevels && toPalette;
    rows.format = quantized || (rows.greyLevels && wholeRaster) ? PixelFormat::Indexed8 : PixelFormat::Bgr24;
    return rows;
}

std::uint64_t DecodeMemory(const JpegHeader& header, const JpegRows& rows)
{
    const std::uint64_t width = Scaled(static_cast<std::uint64_t>(header.width), rows);
    const std::uint64_t height = Scaled(static_cast<std::uint64_t>(header.height), rows);
    const std::uint64_t row = static_cast<std::uint64_t>(RowBytes(static_cast<std::int64_t>(width), BitsPerPixel(rows.format)));
    std::uint64_t bytes = rows.wholeRaster ? row * height : row * JpegRowsPerCall;
    // The library's row buffers: a few block rows of every component, for
    // upsampling and smoothing, at the full width to be safe.
    bytes += static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.components) * 128 + (1u << 20);
    bytes += header.coefficientMemory;
    // Streamed palette rows are turned back into blue, green, red.
    if (!rows.wholeRaster && rows.format == PixelFormat::Indexed8) bytes += 3 * width;
    if (rows.inks) bytes += 4 * width * JpegRowsPerCall + CmykToSrgb::RowMemory(width);
    // A call's grey rows, the dither's error rows, and a plain row as blue, green, red.
    if (rows.greyLevels) bytes += width * (JpegRowsPerCall + 2) + 4 + 3 * width;
    return bytes;
}

}  // namespace pictavo
