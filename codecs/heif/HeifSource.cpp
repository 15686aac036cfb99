#include "codecs/heif/HeifSource.h"

#include "codecs/heif/HeifItems.h"
#include "codecs/heif/HeifLibrary.h"

#include "codecs/ByteStream.h"

#include "base/AllocationCap.h"

#include "base/Errors.h"
#include "base/Limits.h"
#include "base/MemoryBudget.h"
#include "imaging/ColourProfile.h"
#include "base/Files.h"
#include "codecs/SampleRows.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <libheif/heif.h>

namespace pictavo {
namespace {

constexpr std::size_t BoxHeader = 8;          // size, type
constexpr std::size_t CompatibleBrandsAt = 16;  // after major brand and minor version
constexpr std::array<std::string_view, 12> StillBrands{"heic", "heix", "heim", "heis", "hevc", "hevx",
                                                       "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
// Decoding holds the coded planes, the transformed copy and the
// interleaved result at once: about this many bytes a pixel and sample byte.
constexpr std::uint64_t DecodeBytesPerPixel = 10;
// libde265's reference pictures and per-block tables, a pixel; dav1d's
// pictures and tables likewise.
constexpr std::uint64_t HevcBytesPerPixel = 8;
constexpr std::uint64_t Av1BytesPerPixel = 8;

// The brands of the leading 'ftyp' box that fit in `size` bytes.
std::vector<std::string_view> Brands(const std::uint8_t* bytes, std::size_t size)
{
    if (size < CompatibleBrandsAt || std::memcmp(bytes + 4, "ftyp", 4) != 0) return {};
    const std::size_t end = std::min<std::size_t>(size, BigEndian32(bytes));
    std::vector<std::string_view> brands{std::string_view(reinterpret_cast<const char*>(bytes) + BoxHeader, 4)};
    for (std::size_t at = CompatibleBrandsAt; at + 4 <= end; at += 4)
        brands.emplace_back(reinterpret_cast<const char*>(bytes) + at, 4);
    return brands;
}

// Reads the bits of an HEVC parameter set, emulation prevention removed.
class BitReader {
public:
    explicit BitReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool ok() const { return ok_; }
    std::uint64_t bits(int count)
    {
        std::uint64_t value = 0;
        for (; count > 0; --count, ++position_) {
            if (position_ >= 8 * bytes_.size()) {
                ok_ = false;
                return 0;
            }
            value = value << 1 | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1);
        }
        return value;
    }
    std::uint64_t golomb()  // ue(v)
    {
        int zeros = 0;
        while (ok_ && bits(1) == 0)
            if (++zeros > 32) ok_ = false;
        return ok_ ? (std::uint64_t(1) << zeros) - 1 + bits(zeros) : 0;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

// The picture size a sequence parameter set declares (NAL header first);
// 0 when it cannot be read.
std::uint64_t SpsPixels(const std::uint8_t* nal, std::size_t size)
{
    std::vector<std::uint8_t> rbsp;
    for (std::size_t i = 2; i < size; ++i) {
        if (i >= 4 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    BitReader r(std::move(rbsp));
    r.bits(4);  // video parameter set id
    const int subLayers = static_cast<int>(r.bits(3));
    r.bits(1);
    r.bits(96);  // general profile, tier and level
    std::vector<bool> profile(static_cast<std::size_t>(subLayers)), level(static_cast<std::size_t>(subLayers));
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = r.bits(1) != 0;
        level[i] = r.bits(1) != 0;
    }
    for (int i = subLayers; subLayers > 0 && i < 8; ++i) r.bits(2);
    for (int i = 0; i < subLayers; ++i) r.bits((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    r.golomb();  // sequence parameter set id
    if (r.golomb() == 3) r.bits(1);  // 4:4:4 with separate colour planes
    const std::uint64_t width = r.golomb(), height = r.golomb();
    return r.ok() ? width * height : 0;
}

// The largest picture the HEVC parameter sets of the file's 'hvcC' boxes
// declare: libde265 sizes its buffers from them, whatever 'ispe' says.
std::uint64_t LargestHevcPicture(const std::vector<std::uint8_t>& bytes)
{
    constexpr std::size_t ArraysAt = 22;  // after the fixed configuration fields
    constexpr int SpsType = 33;
    std::uint64_t largest = 0;
    for (std::size_t at = 4; at + 4 <= bytes.size(); ++at) {
        if (std::memcmp(&bytes[at], "hvcC", 4) != 0) continue;
        const std::size_t end = std::min<std::size_t>(bytes.size(), at - 4 + std::max<std::uint32_t>(BigEndian32(&bytes[at - 4]), 8));
        std::size_t p = at + 4 + ArraysAt;
        if (p >= end) continue;
        const int arrays = bytes[p++];
        for (int a = 0; a < arrays && p + 3 <= end; ++a) {
            const int type = bytes[p] & 0x3F;
            const int count = BigEndian16(&bytes[p + 1]);
            p += 3;
            for (int n = 0; n < count && p + 2 <= end; ++n) {
                const std::size_t length = BigEndian16(&bytes[p]);
                p += 2;
                if (p + length > end) break;
                if (type == SpsType) largest = std::max(largest, SpsPixels(&bytes[p], length));
                p += length;
            }
        }
    }
    return largest;
}

// The largest frame an AV1 sequence header allows (its payload); 0 when it
// cannot be read.
std::uint64_t SequenceHeaderPixels(const std::uint8_t* payload, std::size_t size)
{
    BitReader r(std::vector<std::uint8_t>(payload, payload + size));
    r.bits(3);  // profile
    r.bits(1);  // still picture
    if (r.bits(1) != 0) {  // reduced still picture header
        r.bits(5);
    } else {
        bool decoderModel = false;
        int delayBits = 0;
        if (r.bits(1) != 0) {  // timing info
            r.bits(64);
            if (r.bits(1) != 0) {  // equal picture interval: uvlc
                int zeros = 0;
                while (r.ok() && r.bits(1) == 0)
                    if (++zeros >= 32) return 0;
                r.bits(zeros);
            }
            decoderModel = r.bits(1) != 0;
            if (decoderModel) {
                delayBits = static_cast<int>(r.bits(5)) + 1;
                r.bits(32 + 5 + 5);
            }
        }
        const bool displayDelay = r.bits(1) != 0;
        const int points = static_cast<int>(r.bits(5)) + 1;
        for (int i = 0; i < points && r.ok(); ++i) {
            r.bits(12);  // operating point
            if (r.bits(5) > 7) r.bits(1);  // level, tier
            if (decoderModel && r.bits(1) != 0) r.bits(2 * delayBits + 1);
            if (displayDelay && r.bits(1) != 0) r.bits(4);
        }
    }
    const int widthBits = static_cast<int>(r.bits(4)) + 1, heightBits = static_cast<int>(r.bits(4)) + 1;
    const std::uint64_t width = r.bits(widthBits) + 1, height = r.bits(heightBits) + 1;
    return r.ok() ? width * height : 0;
}

// The largest frame the sequence headers among the AV1 units at `data` allow.
std::uint64_t LargestAv1Frame(const std::uint8_t* data, std::size_t size)
{
    constexpr int SequenceHeader = 1;
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t header = data[at++];
        if (header & 0x04) ++at;  // extension
        std::uint64_t length = size - std::min(at, size);
        if (header & 0x02) {  // a size field, LEB128
            length = 0;
            for (int i = 0; i < 8 && at < size; ++i) {
                const std::uint8_t byte = data[at++];
                length |= std::uint64_t(byte & 0x7F) << (7 * i);
                if (!(byte & 0x80)) break;
            }
        }
        if (at > size || length > size - at) break;
        if ((header >> 3 & 0x0F) == SequenceHeader)
            largest = std::max(largest, SequenceHeaderPixels(data + at, static_cast<std::size_t>(length)));
        at += static_cast<std::size_t>(length);
    }
    return largest;
}

// The largest frame any AV1 sequence header of the file allows: dav1d sizes
// its pictures from them, whatever 'ispe' says. They stand in the 'av1C'
// boxes and at the start of the coded data, which 'iloc' places.
std::uint64_t LargestAv1Picture(const std::vector<std::uint8_t>& bytes)
{
    constexpr std::size_t ConfigurationBytes = 4;
    std::uint64_t largest = 0;
    const std::size_t size = bytes.size();
    const auto boxEnd = [&](std::size_t type) {
        return std::min<std::size_t>(size, type - 4 + std::max<std::uint32_t>(BigEndian32(&bytes[type - 4]), 8));
    };
    for (std::size_t at = 4; at + 4 <= size; ++at) {
        if (std::memcmp(&bytes[at], "av1C", 4) == 0) {
            const std::size_t start = at + 4 + ConfigurationBytes, end = boxEnd(at);
            if (start < end) largest = std::max(largest, LargestAv1Frame(&bytes[start], end - start));
        } else if (std::memcmp(&bytes[at], "iloc", 4) == 0) {
            // Items' extents: version, flags, then the widths of the fields.
            std::size_t p = at + 4;
            const std::size_t end = boxEnd(at);
            if (p + 6 > end) continue;
            const int version = bytes[p];
            p += 4;
            const int offsetSize = bytes[p] >> 4, lengthSize = bytes[p] & 15, baseSize = bytes[p + 1] >> 4,
                      indexSize = version >= 1 ? bytes[p + 1] & 15 : 0;
            p += 2;
            const auto field = [&](int width) -> std::optional<std::uint64_t> {
                if (width != 0 && width != 4 && width != 8) return std::nullopt;
                if (p + static_cast<std::size_t>(width) > end) return std::nullopt;
                const std::uint64_t value = BigEndianOfSize(&bytes[p], width);
                p += static_cast<std::size_t>(width);
                return value;
            };
            std::uint64_t count = 0;
            if (version < 2) {
                if (p + 2 > end) continue;
                count = BigEndian16(&bytes[p]);
                p += 2;
            } else {
                if (p + 4 > end) continue;
                count = BigEndian32(&bytes[p]);
                p += 4;
            }
            for (std::uint64_t item = 0; item < count && p < end; ++item) {
                p += version < 2 ? 2 : 4;  // item id
                int method = 0;
                if (version >= 1) {
                    if (p + 2 > end) break;
                    method = bytes[p + 1] & 15;
                    p += 2;
                }
                p += 2;  // data reference
                const auto base = field(baseSize);
                if (!base || p + 2 > end) break;
                const int extents = BigEndian16(&bytes[p]);
                p += 2;
                for (int e = 0; e < extents; ++e) {
                    if (indexSize && !field(indexSize)) break;
                    const auto offset = field(offsetSize), length = field(lengthSize);
                    if (!offset || !length) break;
                    const std::uint64_t start = *base + *offset;
                    if (method != 0 || start >= size) continue;
                    const std::uint64_t n = *length == 0 ? size - start : std::min<std::uint64_t>(*length, size - start);
                    largest = std::max(largest, LargestAv1Frame(&bytes[start], static_cast<std::size_t>(n)));
                }
            }
        }
    }
    return largest;
}

struct ContextDeleter {
    void operator()(heif_context* c) const { Heif().heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { Heif().heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { Heif().heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { Heif().heif_decoding_options_free(o); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* n) const { Heif().heif_nclx_color_profile_free(n); }
};

// The ICC profile the nclx facts describe; none for sRGB. Transfer functions
// without a parametric form (PQ, HLG, logarithmic) are taken as sRGB's.
std::vector<std::uint8_t> NclxProfile(const heif_color_profile_nclx& nclx)
{
    const bool srgbPrimaries = nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
                               nclx.color_primaries == heif_color_primaries_unspecified;
    TransferCurve transfer = SrgbTransfer;
    switch (nclx.transfer_characteristics) {
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit: transfer = Bt709Transfer; break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: transfer = GammaTransfer(2.2); break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G: transfer = GammaTransfer(2.8); break;
    case heif_transfer_characteristic_linear: transfer = GammaTransfer(1.0); break;
    default:
        if (srgbPrimaries) return {};
    }
    const Chromaticities primaries{nclx.color_primary_red_x,   nclx.color_primary_red_y,
                                   nclx.color_primary_green_x, nclx.color_primary_green_y,
                                   nclx.color_primary_blue_x,  nclx.color_primary_blue_y,
                                   nclx.color_primary_white_x, nclx.color_primary_white_y};
    return MakeRgbProfile(srgbPrimaries ? SrgbPrimaries : primaries, transfer);
}

class HeifSource : public PictureSource {
public:
    explicit HeifSource(std::vector<std::uint8_t> bytes);
    const PictureHeader& header() const override { return header_; }
    void readRows(const RowSink& sink) override;
    DecodeWarnings warnings() const override { return warnings_; }
    std::span<const std::uint8_t> fileBytes() const override { return bytes_; }
    std::optional<OutputMetadata> containerMetadata() const override;

private:
    void check(const heif_error& error) const;

    std::vector<std::uint8_t> bytes_;
    bool cutShort_ = false;  // the coded data past the end of the file were made up as zeros
    DecodeWarnings warnings_;
    // Tiles whose data the file lacks: decoded from another tile's data, and
    // delivered as zero samples. Left, top, width, height.
    std::vector<std::array<std::uint32_t, 4>> blank_;
    void mendMissingTiles(const HeifItems& items);
    std::string format_ = "HEIF";
    std::unique_ptr<heif_context, ContextDeleter> context_;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle_;
    PictureHeader header_;
    bool alpha_ = false;
    bool deep_ = false;  // samples above 8 bits
};

void HeifSource::check(const heif_error& error) const
{
    if (error.code == heif_error_Ok) return;
    // A plane the library could not allocate is only noticed when it is used.
    if (error.code == heif_error_Memory_allocation_error ||
        error.subcode == heif_suberror_Nonexisting_image_channel_referenced)
        throw EOutOfMemory();
    throw EInvalidGraphic(LibraryErrorText(format_, error.message ? error.message : "unknown"));
}

HeifSource::HeifSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes))
{
    for (std::string_view brand : Brands(bytes_.data(), bytes_.size()))
        if (brand == "avif" || brand == "avis") format_ = "AVIF";
    const HeifItems items = ReadHeifItems(bytes_);
    // Refused before any tile is decoded.
    if (items.derivedInputs > MaxHeifTiles)
        throw EInvalidGraphic(LibraryErrorText(format_, "the picture is made of " + std::to_string(items.derivedInputs) +
                                                             " tiles, more than the " + std::to_string(MaxHeifTiles) +
                                                             " allowed"));
    WithMemoryErrors([&] {
        // A file cut short in its coded data, its header whole: the data it
        // lacks are read as zeros, so the decoder gives what the rest holds
        // (a made-up rest), and the picture says it was cut short.
        std::uint64_t start = UINT64_MAX, end = 0;
        for (const auto& [item, extents] : items.data)
            for (const HeifItems::Extent& e : extents)
                if (e.length > 0) start = std::min(start, e.start), end = std::max(end, e.start + e.length);
        if (start < bytes_.size() && end > bytes_.size() && end <= MemoryBudget() / 4) {
            mendMissingTiles(items);
            bytes_.resize(static_cast<std::size_t>(end), 0);
            cutShort_ = true;
        }
        context_.reset(Heif().heif_context_alloc());
        if (!context_) throw EOutOfMemory();
        // Tiles are decoded on this thread, where the allocation cap holds,
        // not on threads of the library's own; and no side may be larger
        // than the budget has room for.
        Heif().heif_context_set_max_decoding_threads(context_.get(), 0);
        Heif().heif_context_set_maximum_image_size_limit(
            context_.get(), static_cast<int>(std::min<std::uint64_t>(MemoryBudget() / DecodeBytesPerPixel, INT_MAX)));
        check(Heif().heif_context_read_from_memory_without_copy(context_.get(), bytes_.data(), bytes_.size(), nullptr));
        heif_image_handle* handle = nullptr;
        check(Heif().heif_context_get_primary_image_handle(context_.get(), &handle));
        handle_.reset(handle);
    });
    heif_image_handle* h = handle_.get();
    // The size after the transformations, as decoding delivers it.
    header_.width = Heif().heif_image_handle_get_width(h);
    header_.height = Heif().heif_image_handle_get_height(h);
    if (header_.width <= 0 || header_.height <= 0)
        throw EInvalidGraphic(LibraryErrorText(format_, "the picture has no size"));
    alpha_ = Heif().heif_image_handle_has_alpha_channel(h) != 0;
    header_.alpha = alpha_;
    deep_ = Heif().heif_image_handle_get_luma_bits_per_pixel(h) > 8;
    const std::uint64_t coded = std::max<std::uint64_t>(
        std::uint64_t(std::max(Heif().heif_image_handle_get_ispe_width(h), 0)) * std::uint64_t(std::max(Heif().heif_image_handle_get_ispe_height(h), 0)),
        std::uint64_t(header_.width) * std::uint64_t(header_.height));
    const std::uint64_t codec = format_ == "AVIF" ? LargestAv1Picture(bytes_) * Av1BytesPerPixel
                                                  : LargestHevcPicture(bytes_) * HevcBytesPerPixel;
    header_.decodeMemory = bytes_.size() + (coded * DecodeBytesPerPixel + codec) * (deep_ ? 2 : 1);
    CheckMemoryBudget(header_.decodeMemory + 3 * std::uint64_t(header_.width));

    switch (Heif().heif_image_handle_get_color_profile_type(h)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const std::size_t size = Heif().heif_image_handle_get_raw_color_profile_size(h);
        if (size > LargestProfile) break;
        std::vector<std::uint8_t> icc(size);
        if (!icc.empty() && Heif().heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok)
            header_.iccProfile = std::move(icc);
        break;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        // libheif hands the profile out even when it reports unknown primaries.
        const bool known = Heif().heif_image_handle_get_nclx_color_profile(h, &nclx).code == heif_error_Ok;
        const std::unique_ptr<heif_color_profile_nclx, NclxDeleter> owned(nclx);
        if (known && nclx) header_.iccProfile = NclxProfile(*nclx);
        break;
    }
    default: break;
    }
    header_.decodeMemory += ProfileMemory(header_.iccProfile.size());
}

// The decoder fails on a tile whose data is all zeros, and with it the whole
// grid: the tiles the file lacks, or has in part, are decoded from a whole
// tile's data instead and delivered blank, as the rows of other formats
// past their data are. Grids that are turned, mirrored or cropped are left
// as they are.
void HeifSource::mendMissingTiles(const HeifItems& items)
{
    const std::uint64_t size = bytes_.size();
    const auto whole = [&](std::uint64_t tile) {
        const auto placed = items.data.find(tile);
        if (placed == items.data.end()) return items.inMeta.count(tile) > 0;
        return std::all_of(placed->second.begin(), placed->second.end(),
                           [&](const HeifItems::Extent& e) { return e.length > 0 && e.start + e.length <= size; });
    };
    // Writes `value` into a field of `width` bytes; false when it does not fit.
    const auto put = [&](std::size_t at, int width, std::uint64_t value) {
        if (width <= 0 || (width < 8 && value >> (8 * width) != 0)) return false;
        for (int i = width - 1; i >= 0; --i, value >>= 8) bytes_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
        return true;
    };
    HeifGrid primary;
    const auto primaryType = items.types.find(items.primary);
    if (primaryType == items.types.end() || primaryType->second != "grid" || items.transformed.count(items.primary) ||
        !ReadHeifGrid(bytes_, items, items.primary, primary))
        return;
    for (const auto& [grid, tiles] : items.tiles) {
        const auto type = items.types.find(grid);
        HeifGrid layout;
        // The picture's grid, or its alpha's of the same layout.
        if (type == items.types.end() || type->second != "grid" || items.transformed.count(grid) ||
            !ReadHeifGrid(bytes_, items, grid, layout) || layout.width != primary.width || layout.height != primary.height ||
            static_cast<std::size_t>(layout.rows) * static_cast<std::size_t>(layout.columns) != tiles.size())
            continue;
        const auto donor = std::find_if(tiles.begin(), tiles.end(), [&](std::uint64_t tile) {
            const auto placed = items.data.find(tile);
            return whole(tile) && placed != items.data.end() && placed->second.size() == 1;
        });
        const auto tileSize = items.sizes.find(tiles.front());
        if (donor == tiles.end() || tileSize == items.sizes.end()) continue;
        const HeifItems::Extent& from = items.data.at(*donor).front();
        for (std::size_t cell = 0; cell < tiles.size(); ++cell) {
            if (whole(tiles[cell])) continue;
            const auto placed = items.data.find(tiles[cell]);
            if (placed == items.data.end() || placed->second.size() != 1) continue;
            const HeifItems::Extent& to = placed->second.front();
            if (from.start < to.base || !put(to.offsetField, to.offsetSize, from.start - to.base) ||
                !put(to.lengthField, to.lengthSize, from.length))
                continue;
            const std::uint64_t x = std::uint64_t(cell % static_cast<std::size_t>(layout.columns)) * tileSize->second.first;
            const std::uint64_t y = std::uint64_t(cell / static_cast<std::size_t>(layout.columns)) * tileSize->second.second;
            if (x < layout.width && y < layout.height)
                blank_.push_back({std::uint32_t(x), std::uint32_t(y), std::min<std::uint32_t>(tileSize->second.first, layout.width - std::uint32_t(x)),
                                  std::min<std::uint32_t>(tileSize->second.second, layout.height - std::uint32_t(y))});
        }
    }
}

void HeifSource::readRows(const RowSink& sink)
{
    CheckMemoryBudget(header_.decodeMemory);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(Heif().heif_decoding_options_alloc());
    if (!options) throw EOutOfMemory();
    options->ignore_transformations = 0;  // the picture comes upright
    options->convert_hdr_to_8bit = 0;     // reduced here, with rounding
    const heif_chroma chroma = deep_ ? (alpha_ ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                     : (alpha_ ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_image, ImageDeleter> image;
    WithMemoryErrors([&] {
        heif_image* decoded = nullptr;
        // Headroom for the library's own tables; a grid of tiles or a coded
        // size that asks for far more than the picture needs is refused.
        const AllocationCap cap(static_cast<std::size_t>(header_.decodeMemory) + (std::size_t(64) << 20));
        const std::uint64_t refused = AllocationsRefused();
        const heif_error error = Heif().heif_decode_image(handle_.get(), &decoded, heif_colorspace_RGB, chroma, options.get());
        // Decoder plugins report an allocation they were refused as an error of their own.
        if (error.code != heif_error_Ok && AllocationsRefused() != refused) throw EOutOfMemory();
        check(error);
        image.reset(decoded);
    });
    if (cutShort_) warnings_ = {1, "Premature end of " + format_ + " file"};
    int stride = 0;
    const std::uint8_t* plane = Heif().heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int bits = Heif().heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (!plane || Heif().heif_image_get_width(image.get(), heif_channel_interleaved) != header_.width ||
        Heif().heif_image_get_height(image.get(), heif_channel_interleaved) != header_.height || bits < 1 || bits > 16)
        throw EInvalidGraphic(LibraryErrorText(format_, "the decoded picture does not match its header"));

    SampleLayout layout;
    layout.channels = alpha_ ? 4 : 3;
    layout.bytesPerSample = deep_ ? 2 : 1;
    layout.maxValue = (1u << bits) - 1;
    layout.premultiplied = alpha_ && Heif().heif_image_handle_is_premultiplied_alpha(handle_.get());
    layout.keepAlpha = keepsAlpha();
    layout.background = delivery_.background;
    if (SampleRowBytes(std::uint64_t(header_.width), layout) > static_cast<std::uint64_t>(stride))
        throw EInvalidGraphic(LibraryErrorText(format_, "the decoded picture does not match its header"));
    std::vector<std::uint8_t> bgr((keepsAlpha() ? 4 : 3) * static_cast<std::size_t>(header_.width));
    const std::size_t pixel = static_cast<std::size_t>(SampleRowBytes(1, layout));
    std::vector<std::uint8_t> mended(blank_.empty() ? 0 : pixel * static_cast<std::size_t>(header_.width));
    for (int y = 0; y < header_.height; ++y) {
        const std::uint8_t* row = plane + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
        for (const auto& [left, top, width, height] : blank_) {
            if (std::uint32_t(y) < top || std::uint32_t(y) - top >= height || std::uint64_t(left) + width > std::uint64_t(header_.width)) continue;
            if (row != mended.data()) row = static_cast<const std::uint8_t*>(std::memcpy(mended.data(), row, mended.size()));
            std::memset(mended.data() + pixel * left, 0, pixel * width);
        }
        SamplesToBgr(row, header_.width, layout, bgr.data());
        sink(bgr.data());
    }
}

std::optional<OutputMetadata> HeifSource::containerMetadata() const
{
    OutputMetadata blocks;
    const heif_image_handle* h = handle_.get();
    std::vector<heif_item_id> ids(static_cast<std::size_t>(
        std::max(Heif().heif_image_handle_get_number_of_metadata_blocks(h, nullptr), 0)));
    ids.resize(static_cast<std::size_t>(Heif().heif_image_handle_get_list_of_metadata_block_IDs(
        h, nullptr, ids.data(), static_cast<int>(ids.size()))));
    for (const heif_item_id id : ids) {
        const std::string_view type = Heif().heif_image_handle_get_metadata_type(h, id);
        const char* content = Heif().heif_image_handle_get_metadata_content_type(h, id);
        const bool exif = type == "Exif", xmp = type == "mime" && content && std::string_view(content) == "application/rdf+xml";
        if (!exif && !xmp) continue;
        const std::size_t size = Heif().heif_image_handle_get_metadata_size(h, id);
        CheckMemoryBudget(size);
        std::string data(size, '\0');
        check(Heif().heif_image_handle_get_metadata(h, id, data.data()));
        if (xmp) {
            blocks.xmp = std::move(data);
        } else if (size >= 4) {
            // The TIFF structure follows a 32-bit offset past its own end,
            // which spans "Exif\0\0" when a writer put it there.
            const std::uint64_t start = 4 + std::uint64_t(BigEndian32(reinterpret_cast<const std::uint8_t*>(data.data())));
            if (start < size) blocks.exif = data.substr(static_cast<std::size_t>(start));
        }
    }
    return blocks;
}

}  // namespace

bool IsHeifSignature(const std::uint8_t* bytes, std::size_t size)
{
    for (std::string_view brand : Brands(bytes, size))
        if (std::find(StillBrands.begin(), StillBrands.end(), brand) != StillBrands.end()) return true;
    return false;
}

std::unique_ptr<PictureSource> OpenHeifSource(const std::string& path, const std::string& shownName)
{
    return OpenHeifBytes(ReadWholeFile(path, shownName));
}

std::unique_ptr<PictureSource> OpenHeifBytes(std::vector<std::uint8_t> bytes)
{
    return std::make_unique<HeifSource>(std::move(bytes));
}

}  // namespace pictavo
