#include "codecs/heif/HeifItems.h"

#include "codecs/ByteStream.h"

#include <string_view>

namespace pictavo {
namespace {

constexpr std::size_t BoxHeader = 8;      // size, type
constexpr std::size_t FullBoxHeader = 4;  // version, flags

// Calls `each(type, payload, size)` for the boxes that follow one another in
// `size` bytes, up to the first that does not fit.
template <class F>
void ForEachBox(const std::uint8_t* data, std::size_t size, F each)
{
    for (std::size_t at = 0; at + BoxHeader <= size;) {
        std::uint64_t length = BigEndian32(data + at), header = BoxHeader;
        if (length == 1) {  // a 64-bit size follows the type
            if (at + 16 > size) return;
            length = std::uint64_t(BigEndian32(data + at + 8)) << 32 | BigEndian32(data + at + 12);
            header = 16;
        } else if (length == 0) {  // to the end of the file
            length = size - at;
        }
        if (length < header || length > size - at) return;
        each(std::string_view(reinterpret_cast<const char*>(data) + at + 4, 4), data + at + header,
             static_cast<std::size_t>(length - header));
        at += static_cast<std::size_t>(length);
    }
}

// Big-endian numbers of 0 to 8 bytes from a box's payload; `ok` turns false
// past its end, and stays so.
struct Fields {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool ok = true;
    std::uint64_t number(int width)
    {
        if (width < 0 || width > 8 || at + static_cast<std::size_t>(width) > size) ok = false;
        if (!ok) return 0;
        const std::uint64_t value = BigEndianOfSize(data + at, width);
        at += static_cast<std::size_t>(width);
        return value;
    }
};

struct Placed {
    std::uint64_t item, method;
    HeifItems::Extent extent;
};

}  // namespace

HeifItems ReadHeifItems(const std::vector<std::uint8_t>& bytes)
{
    HeifItems items;
    std::vector<Placed> placed;
    const std::uint8_t* idat = nullptr;
    std::size_t idatSize = 0;
    std::vector<std::string_view> properties;  // of 'ipco', from index 1
    std::vector<std::pair<std::uint32_t, std::uint32_t>> propertySizes;
    std::vector<std::pair<std::uint64_t, std::vector<int>>> associations;
    ForEachBox(bytes.data(), bytes.size(), [&](std::string_view type, const std::uint8_t* meta, std::size_t size) {
        if (type != "meta" || size < FullBoxHeader) return;
        ForEachBox(meta + FullBoxHeader, size - FullBoxHeader, [&](std::string_view type, const std::uint8_t* b, std::size_t size) {
            Fields f{b, size};
            const int version = static_cast<int>(f.number(1));
            f.number(3);  // flags
            const int id = version == 0 ? 2 : 4;
            if (type == "pitm") {
                items.primary = f.number(id);
            } else if (type == "iinf") {
                f.at = FullBoxHeader + (version == 0 ? 2 : 4);
                ForEachBox(b + f.at, size - std::min(size, f.at), [&](std::string_view type, const std::uint8_t* e, std::size_t size) {
                    Fields g{e, size};
                    const int version = static_cast<int>(g.number(1));
                    g.number(3);
                    if (type != "infe" || version < 2) return;
                    const std::uint64_t item = g.number(version == 2 ? 2 : 4);
                    g.number(2);  // protection
                    if (g.ok && g.at + 4 <= size) items.types[item] = std::string(reinterpret_cast<const char*>(e) + g.at, 4);
                });
            } else if (type == "iref") {
                ForEachBox(b + FullBoxHeader, size - std::min(size, FullBoxHeader), [&](std::string_view type, const std::uint8_t* r, std::size_t size) {
                    Fields g{r, size};
                    const std::uint64_t from = g.number(id), count = g.number(2);
                    if (type != "dimg" || !g.ok) return;
                    items.derivedInputs += count;
                    std::vector<std::uint64_t>& to = items.tiles[from];
                    for (std::uint64_t k = 0; k < count && g.ok; ++k) {
                        const std::uint64_t tile = g.number(id);
                        if (g.ok) to.push_back(tile);
                    }
                });
            } else if (type == "iloc") {
                const int offsetSize = static_cast<int>(f.number(1)), baseSize = static_cast<int>(f.number(1));
                const int lengthSize = offsetSize & 15, indexSize = version >= 1 ? baseSize & 15 : 0;
                const std::uint64_t count = f.number(version < 2 ? 2 : 4);
                for (std::uint64_t k = 0; k < count && f.ok; ++k) {
                    const std::uint64_t item = f.number(version < 2 ? 2 : 4);
                    const std::uint64_t method = version >= 1 ? f.number(2) & 15 : 0;
                    f.number(2);  // data reference
                    const std::uint64_t base = f.number(baseSize >> 4), extents = f.number(2);
                    for (std::uint64_t e = 0; e < extents && f.ok; ++e) {
                        f.number(indexSize);
                        HeifItems::Extent extent;
                        extent.base = base;
                        extent.offsetSize = offsetSize >> 4;
                        extent.lengthSize = lengthSize;
                        extent.offsetField = static_cast<std::size_t>(b - bytes.data()) + f.at;
                        const std::uint64_t offset = f.number(offsetSize >> 4);
                        extent.lengthField = static_cast<std::size_t>(b - bytes.data()) + f.at;
                        extent.length = f.number(lengthSize);
                        if (!f.ok || offset > UINT64_MAX / 4 || base > UINT64_MAX / 4 || extent.length > UINT64_MAX / 4) continue;
                        extent.start = base + offset;
                        placed.push_back({item, method, extent});
                    }
                }
            } else if (type == "idat") {
                idat = b;  // a plain box: no version or flags
                idatSize = size;
            } else if (type == "iprp") {
                ForEachBox(b, size, [&](std::string_view type, const std::uint8_t* p, std::size_t size) {  // a plain box
                    if (type == "ipco") {
                        ForEachBox(p, size, [&](std::string_view type, const std::uint8_t* q, std::size_t size) {
                            properties.push_back(type);
                            if (type == "hvcC" || type == "av1C")
                                items.configurations.push_back({std::string(type), static_cast<std::size_t>(q - bytes.data()), size});
                            propertySizes.emplace_back(size >= 12 && type == "ispe" ? BigEndian32(q + 4) : 0,
                                                       size >= 12 && type == "ispe" ? BigEndian32(q + 8) : 0);
                        });
                    } else if (type == "ipma") {
                        Fields g{p, size};
                        const int version = static_cast<int>(g.number(1));
                        const bool wide = (g.number(3) & 1) != 0;
                        const std::uint64_t entries = g.number(4);
                        for (std::uint64_t k = 0; k < entries && g.ok; ++k) {
                            const std::uint64_t item = g.number(version < 1 ? 2 : 4);
                            const std::uint64_t count = g.number(1);
                            std::vector<int> indices;
                            for (std::uint64_t a = 0; a < count && g.ok; ++a)
                                indices.push_back(static_cast<int>(g.number(wide ? 2 : 1) & (wide ? 0x7FFF : 0x7F)));
                            associations.emplace_back(item, std::move(indices));
                        }
                    }
                });
            }
        });
    });
    for (const Placed& p : placed) {
        if (p.method == 0) {
            items.data[p.item].push_back(p.extent);
        } else if (p.method == 1 && idat && p.extent.start <= idatSize && p.extent.length <= idatSize - p.extent.start) {
            std::vector<std::uint8_t>& stored = items.inMeta[p.item];
            stored.insert(stored.end(), idat + p.extent.start, idat + p.extent.start + p.extent.length);
        }
    }
    for (const auto& [item, indices] : associations)
        for (const int index : indices) {
            if (index < 1 || static_cast<std::size_t>(index) > properties.size()) continue;
            const std::string_view type = properties[static_cast<std::size_t>(index) - 1];
            if (type == "ispe") items.sizes[item] = propertySizes[static_cast<std::size_t>(index) - 1];
            if (type == "irot" || type == "imir" || type == "clap") items.transformed.insert(item);
        }
    return items;
}

bool ReadHeifGrid(const std::vector<std::uint8_t>& bytes, const HeifItems& items, std::uint64_t grid, HeifGrid& layout)
{
    std::vector<std::uint8_t> descriptor;
    if (const auto stored = items.inMeta.find(grid); stored != items.inMeta.end()) {
        descriptor = stored->second;
    } else if (const auto placed = items.data.find(grid); placed != items.data.end()) {
        for (const HeifItems::Extent& e : placed->second) {
            if (e.start > bytes.size() || e.length > bytes.size() - e.start) return false;
            descriptor.insert(descriptor.end(), bytes.begin() + static_cast<std::ptrdiff_t>(e.start),
                              bytes.begin() + static_cast<std::ptrdiff_t>(e.start + e.length));
        }
    }
    Fields f{descriptor.data(), descriptor.size()};
    f.number(1);  // version
    const int side = (f.number(1) & 1) != 0 ? 4 : 2;
    layout.rows = static_cast<int>(f.number(1)) + 1;
    layout.columns = static_cast<int>(f.number(1)) + 1;
    layout.width = static_cast<std::uint32_t>(f.number(side));
    layout.height = static_cast<std::uint32_t>(f.number(side));
    return f.ok;
}

}  // namespace pictavo
