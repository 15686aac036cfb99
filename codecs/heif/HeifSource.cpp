#include "codecs/heif/HeifSource.h"

#include "codecs/heif/CodedSizes.h"
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
    const std::uint64_t codec = format_ == "AVIF" ? LargestAv1Picture(bytes_, items) * Av1BytesPerPixel
                                                  : LargestHevcPicture(bytes_, items) * HevcBytesPerPixel;
    header_.decodeMemory = bytes_.size() + (coded * DecodeBytesPerPixel + codec) * (deep_ ? 2 : 1);
    CheckDeclaredMemory(header_);

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
