#include "tests/support/TestSupport.h"

#include "base/Errors.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <stdexcept>
#include <sys/wait.h>
#include <utility>
#include <zlib.h>

namespace pictavo::test {

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pictavo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path CorpusDir()
{
    const std::filesystem::path dir = std::filesystem::path(PICTAVO_SHARED_DIR) / "corpus";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

CommandResult RunCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, ""};
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool HaveProgram(const std::string& name)
{
    return RunCommand("command -v " + name).status == 0;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Rgb Gradient(int x, int y)
{
    return {static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 5), static_cast<std::uint8_t>(200 - x - y * 2)};
}

std::vector<std::uint8_t> MakeJpeg(int width, int height, const PixelFunction& pixel, const JpegOptions& options)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    const bool ink = options.ink != JpegOptions::Rgb;
    cinfo.input_components = options.gray ? 1 : ink ? 4 : 3;
    cinfo.in_color_space = options.gray ? JCS_GRAYSCALE : ink ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (ink) jpeg_set_colorspace(&cinfo, options.ink == JpegOptions::Ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    if (options.progressive) jpeg_simple_progression(&cinfo);
    if (options.arithmetic) cinfo.arith_code = TRUE;
    static jpeg_scan_info lumaFirst[2];
    if (options.lumaScanFirst) {
        lumaFirst[0] = {1, {0, 0, 0, 0}, 0, 63, 0, 0};
        lumaFirst[1] = {2, {1, 2, 0, 0}, 0, 63, 0, 0};
        cinfo.scan_info = lumaFirst;
        cinfo.num_scans = 2;
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!options.app1.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, options.app1.data(), static_cast<unsigned>(options.app1.size()));
    if (!options.icc.empty())
        jpeg_write_icc_profile(&cinfo, options.icc.data(), static_cast<unsigned>(options.icc.size()));
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            const Rgb p = pixel(x, y);
            if (options.gray) {
                row[x] = p.g;
            } else if (ink) {
                row[4 * x] = p.r, row[4 * x + 1] = p.g, row[4 * x + 2] = p.b;
                row[4 * x + 3] = static_cast<JSAMPLE>((p.r + p.g + p.b) / 3);
            } else {
                row[3 * x] = p.r;
                row[3 * x + 1] = p.g;
                row[3 * x + 2] = p.b;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

std::vector<std::uint8_t> ExifWithOrientation(int orientation, bool bigEndian)
{
    std::vector<std::uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
    const auto put = [&](unsigned v, int bytes) { bigEndian ? PutBig(b, v, bytes) : PutLittle(b, v, bytes); };
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(bigEndian ? 'M' : 'I');
    put(42, 2);
    put(8, 4);
    put(1, 2);       // one entry
    put(0x0112, 2);  // orientation
    put(3, 2);       // short
    put(1, 4);
    put(static_cast<unsigned>(orientation), 2);
    put(0, 2);
    put(0, 4);       // no next directory
    return b;
}

void PutBig(std::vector<std::uint8_t>& b, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

void PutLittle(std::vector<std::uint8_t>& b, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<JpegSegment> JpegSegments(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<JpegSegment> segments;
    for (std::size_t i = 2; i + 3 < jpeg.size() && jpeg[i] == 0xFF;) {
        segments.push_back({i, jpeg[i + 1], std::size_t(jpeg[i + 2] << 8 | jpeg[i + 3])});
        if (jpeg[i + 1] == 0xDA) break;
        i += 2 + segments.back().length;
    }
    return segments;
}

JpegSegment FindSegment(const std::vector<std::uint8_t>& jpeg, int marker)
{
    for (const JpegSegment& s : JpegSegments(jpeg))
        if (s.marker == marker) return s;
    return {std::string::npos, 0, 0};
}

std::size_t FrameOffset(const std::vector<std::uint8_t>& jpeg)
{
    for (const JpegSegment& s : JpegSegments(jpeg))
        if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 && s.marker != 0xCC) return s.at;
    return std::string::npos;
}

int FrameMarker(const std::vector<std::uint8_t>& jpeg)
{
    const std::size_t at = FrameOffset(jpeg);
    return at == std::string::npos ? 0 : jpeg[at + 1];
}

std::vector<std::uint8_t> WithFrameSize(std::vector<std::uint8_t> jpeg, int width, int height)
{
    const std::size_t i = FrameOffset(jpeg);
    jpeg.at(i + 5) = static_cast<std::uint8_t>(height >> 8), jpeg[i + 6] = static_cast<std::uint8_t>(height);
    jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8), jpeg[i + 8] = static_cast<std::uint8_t>(width);
    return jpeg;
}

std::vector<std::uint8_t> MakeBmp(const BmpFields& fields)
{
    std::vector<std::uint8_t> b;
    const auto u16 = [&](std::uint32_t v) { PutLittle(b, v, 2); };
    const auto u32 = [&](std::uint32_t v) { PutLittle(b, v, 4); };
    b.push_back('B');
    b.push_back('M');
    u32(0);
    u32(0);
    u32(0xDEAD);  // pixel data offset: deliberately wrong, the reader ignores it
    u32(fields.headerSize);
    if (fields.headerSize == 12) {
        u16(static_cast<unsigned>(fields.width));
        u16(static_cast<unsigned>(fields.height));
        u16(fields.planes);
        u16(fields.bits);
    } else {
        u32(static_cast<std::uint32_t>(fields.width));
        u32(static_cast<std::uint32_t>(fields.height));
        u16(fields.planes);
        u16(fields.bits);
        u32(fields.compression);
        u32(fields.imageSize);
        u32(2835);
        u32(2835);
        u32(fields.colorsUsed);
        u32(0);
        if (fields.headerSize > 40)
            for (std::uint32_t m : fields.masks) u32(m);
        b.resize(std::max<std::size_t>(b.size(), 14 + fields.headerSize));
        if (fields.headerSize >= 124)
            for (const auto& [at, value] : {std::pair{56, fields.colourSpace}, {112, fields.profileAt}, {116, fields.profileLength}})
                for (int k = 0; k < 4; ++k) b[14 + at + k] = static_cast<std::uint8_t>(value >> 8 * k);
        if (fields.headerSize == 40)
            for (std::uint32_t m : fields.masks) u32(m);
    }
    for (std::uint32_t c : fields.palette) {
        b.push_back(std::uint8_t(c));
        b.push_back(std::uint8_t(c >> 8));
        b.push_back(std::uint8_t(c >> 16));
        if (fields.headerSize != 12) b.push_back(0);
    }
    b.insert(b.end(), fields.gapAfterTable, 0xEE);
    b.insert(b.end(), fields.pixels.begin(), fields.pixels.end());
    return b;
}

std::vector<std::uint8_t> IsoBox(const char* type, const std::vector<std::uint8_t>& payload, int version)
{
    std::vector<std::uint8_t> b;
    PutBig(b, 8 + (version >= 0 ? 4 : 0) + payload.size(), 4);
    b.insert(b.end(), type, type + 4);
    if (version >= 0) PutBig(b, std::uint64_t(version) << 24, 4);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

std::vector<std::uint8_t> PngChunk(const char* type, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> b;
    PutBig(b, data.size(), 4);
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    PutBig(b, crc32(0, b.data() + 4, static_cast<uInt>(b.size() - 4)), 4);
    return b;
}

std::vector<std::uint8_t> MakePng(const PngFields& f)
{
    std::vector<std::uint8_t> ihdr, packed(compressBound(static_cast<uLong>(f.raw.size())));
    PutBig(ihdr, f.width, 4), PutBig(ihdr, f.height, 4);
    ihdr.insert(ihdr.end(), {f.depth, f.colour, 0, 0, static_cast<std::uint8_t>(f.interlaced)});
    uLongf size = packed.size();
    compress(packed.data(), &size, f.raw.data(), static_cast<uLong>(f.raw.size()));
    packed.resize(size);
    return std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'} + PngChunk("IHDR", ihdr) + f.extra +
           PngChunk("IDAT", packed) + PngChunk("IEND", {});
}

std::vector<std::uint8_t> MakeGreyTiff(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                                       std::uint32_t compression, const std::vector<std::vector<std::uint8_t>>& strips,
                                       std::uint32_t profile)
{
    // One strip's offset and length stand in its entries, more in arrays after the directory.
    const auto n = static_cast<std::uint32_t>(strips.size()), entries = profile ? 10u : 9u;
    const std::uint32_t arrays = 8 + 2 + 12 * entries + 4;
    std::uint32_t data = arrays + (n > 1 ? 8 * n : 0);
    std::vector<std::uint8_t> offsets, counts, b{'I', 'I', 42, 0};
    for (const auto& strip : strips) PutLittle(offsets, data, 4), PutLittle(counts, strip.size(), 4), data += strip.size();
    PutLittle(b, 8, 4);
    PutLittle(b, entries, 2);
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        PutLittle(b, tag, 2), PutLittle(b, type, 2), PutLittle(b, count, 4), PutLittle(b, value, 4);
    };
    const auto first = [](const std::vector<std::uint8_t>& v) { return std::uint32_t(v[0] | v[1] << 8 | v[2] << 16 | v[3] << 24); };
    entry(256, 4, 1, width), entry(257, 4, 1, height), entry(258, 3, 1, 8), entry(259, 3, 1, compression);
    entry(262, 3, 1, 1), entry(273, 4, n, n > 1 ? arrays : first(offsets)), entry(277, 3, 1, 1);
    entry(278, 4, 1, rowsPerStrip), entry(279, 4, n, n > 1 ? arrays + 4 * n : first(counts));
    if (profile) entry(34675, 7, profile, data);
    PutLittle(b, 0, 4);
    if (n > 1) b = b + offsets + counts;
    for (const auto& strip : strips) b = b + strip;
    b.resize(b.size() + profile);
    return b;
}

std::vector<std::uint8_t> PpmAsBgr(const std::vector<std::uint8_t>& ppm, int& width, int& height)
{
    int max = 0, header = 0;
    const std::string text(ppm.begin(), ppm.begin() + static_cast<long>(std::min<std::size_t>(ppm.size(), 64)));
    if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &width, &height, &max, &header) != 3 || max != 255) return {};
    const std::size_t size = 3 * std::size_t(width) * height, at = static_cast<std::size_t>(header) + 1;
    if (ppm.size() < at + size) return {};
    std::vector<std::uint8_t> bgr(ppm.begin() + static_cast<long>(at), ppm.begin() + static_cast<long>(at + size));
    for (std::size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    return bgr;
}

int MaxDifference(const Raster24& a, const Raster24& b)
{
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 3; ++x) most = std::max(most, std::abs(a.scanLine(y)[x] - b.scanLine(y)[x]));
    return most;
}

std::vector<std::uint8_t> MakeHeifGrid(const std::vector<std::uint8_t>& heic, int columns, int rows, std::uint32_t tileSide,
                                       std::uint32_t width, std::uint32_t height, GridTiles tiles)
{
    const auto find = [&](const char* type) {
        return static_cast<std::size_t>(std::search(heic.begin(), heic.end(), type, type + 4) - heic.begin()) - 4;
    };
    const auto u32 = [&](std::size_t at) { return std::uint32_t(heic[at] << 24 | heic[at + 1] << 16 | heic[at + 2] << 8 | heic[at + 3]); };
    const std::size_t hvcC = find("hvcC"), iloc = find("iloc");
    // heif-enc writes iloc version 0 with 4-byte offsets, lengths and base: the one item's one extent.
    const std::size_t coded = u32(iloc + 20) + u32(iloc + 26);
    const std::vector<std::uint8_t> hevc(heic.begin() + coded, heic.begin() + coded + u32(iloc + 30));
    const int cells = columns * rows, items = tiles == GridTiles::OneItem ? 1 : cells;
    std::vector<std::uint8_t> tile, grid, ipma, dimg, infos, descriptor{0, 1, std::uint8_t(rows - 1), std::uint8_t(columns - 1)};
    PutBig(descriptor, width, 4), PutBig(descriptor, height, 4);
    PutBig(tile, tileSide, 4), PutBig(tile, tileSide, 4), PutBig(grid, width, 4), PutBig(grid, height, 4);
    PutBig(dimg, 1, 2), PutBig(dimg, cells, 2);
    for (int k = 0; k < cells; ++k) PutBig(dimg, 2 + k % items, 2);
    PutBig(ipma, 1 + items, 4), ipma.insert(ipma.end(), {0, 1, 1, 0x03});
    PutBig(infos, 1 + items, 2);
    infos = infos + IsoBox("infe", {0, 1, 0, 0, 'g', 'r', 'i', 'd', 0}, 2);
    for (int k = 0; k < items; ++k) {
        PutBig(ipma, 2 + k, 2), ipma.insert(ipma.end(), {2, 0x81, 0x02});
        infos = infos + IsoBox("infe", {std::uint8_t((2 + k) >> 8), std::uint8_t(2 + k), 0, 0, 'h', 'v', 'c', '1', 0}, 2);
    }
    const auto file = [&](std::uint32_t at) {
        std::vector<std::uint8_t> places{0x44, 0};
        PutBig(places, 1 + items, 2);
        places.insert(places.end(), {0, 1, 0, 0, 0, 1});
        PutBig(places, at, 4), PutBig(places, descriptor.size(), 4);
        for (int k = 0; k < items; ++k) {
            PutBig(places, 2 + k, 2), places.insert(places.end(), {0, 0, 0, 1});
            PutBig(places, at + descriptor.size() + (tiles == GridTiles::CopyEach ? k * hevc.size() : 0), 4);
            PutBig(places, hevc.size(), 4);
        }
        const std::vector<std::uint8_t> hdlr{0, 0, 0, 0, 'p', 'i', 'c', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<std::uint8_t> ipco(heic.begin() + hvcC, heic.begin() + hvcC + u32(hvcC));
        const std::vector<std::uint8_t> ftyp{'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'};
        return IsoBox("ftyp", ftyp) +
               IsoBox("meta", IsoBox("hdlr", hdlr, 0) + IsoBox("pitm", {0, 1}, 0) + IsoBox("iloc", places, 0) +
                                  IsoBox("iinf", infos, 0) + IsoBox("iref", IsoBox("dimg", dimg), 0) +
                                  IsoBox("iprp", IsoBox("ipco", ipco + IsoBox("ispe", tile, 0) + IsoBox("ispe", grid, 0)) +
                                                     IsoBox("ipma", ipma, 0)),
                      0);
    };
    std::vector<std::uint8_t> data = descriptor;
    for (int k = 0; k < (tiles == GridTiles::CopyEach ? cells : 1); ++k) data = data + hevc;
    const std::size_t head = file(0).size() + 8;
    return file(static_cast<std::uint32_t>(head)) + IsoBox("mdat", data);
}

bool HaveExtendedPrecision() { return LDBL_MANT_DIG == 64; }

Raster24 SlowReduced(const Raster24& source, int width, int height, bool sharpen)
{
    const int sw = source.width(), sh = source.height();
    if (sw <= width && sh <= height) return source;
    if (width == 0 || height == 0) throw EZeroDivide();
    const float xs = static_cast<float>(1.0L / (static_cast<long double>(width) / sw));
    const float ys = static_cast<float>(1.0L / (static_cast<long double>(height) / sh));
    const auto bx = [&](int k) { return static_cast<int>(static_cast<long double>(k) * xs); };
    const auto by = [&](int k) { return static_cast<int>(static_cast<long double>(k) * ys); };
    for (int i = 0; i < width; ++i)
        if (bx(i + 1) == bx(i)) throw EDivByZero();
    for (int j = 0; j < height; ++j)
        if (by(j + 1) == by(j)) throw EDivByZero();
    Raster24 out;
    out.reset(width, height, PixelFormat::Bgr24, 0);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            for (int c = 0; c < 3; ++c) {
                std::uint64_t sum = 0;
                for (int y = by(j); y < by(j + 1); ++y)
                    for (int x = bx(i); x < bx(i + 1); ++x) sum += source.scanLine(y)[3 * x + c];
                const std::uint64_t n = std::uint64_t(bx(i + 1) - bx(i)) * (by(j + 1) - by(j));
                out.scanLine(j)[3 * i + c] =
                    static_cast<std::uint8_t>(n > 2047 ? (sum + n / 2) / n : (sum * (65535 / n)) >> 16);
            }
    if (!sharpen || height < 3) return out;
    for (int y = 1; y < height - 1; ++y)
        for (int x = 1; x < width - 1; ++x)
            for (int c = 0; c < 3; ++c) {
                const auto at = [&](int dx, int dy) { return int(std::as_const(out).scanLine(y + dy)[3 * (x + dx) + c]); };
                const int t = at(-1, -1) + at(1, -1) + at(-1, 1) + at(1, 1) - 12 * at(0, 0);
                out.scanLine(y)[3 * x + c] = static_cast<std::uint8_t>(std::clamp(t / -8, 0, 255));
            }
    return out;
}

}  // namespace pictavo::test
