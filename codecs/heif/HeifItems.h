// What the boxes of a HEIF or AVIF file say of its items, read without
// libheif: the grids and their tiles, where each item's coded data lie and
// where the fields that place them stand, so a file cut short can be mended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pictavo {

struct HeifItems {
    // One stretch of an item's data, and where its 'iloc' fields stand.
    struct Extent {
        std::uint64_t start = 0;  // in the file
        std::uint64_t length = 0;
        std::size_t offsetField = 0, lengthField = 0;  // positions in the file
        int offsetSize = 0, lengthSize = 0;            // their widths
        std::uint64_t base = 0;                        // the item's base offset
    };
    std::uint64_t primary = 0;
    std::map<std::uint64_t, std::string> types;                 // 'grid', 'hvc1', 'av01', ...
    std::map<std::uint64_t, std::vector<std::uint64_t>> tiles;  // a grid's tiles, row by row
    std::uint64_t derivedInputs = 0;                            // 'dimg' references of all items
    std::map<std::uint64_t, std::vector<Extent>> data;          // items stored in the file itself
    std::map<std::uint64_t, std::vector<std::uint8_t>> inMeta;  // items stored in 'idat'
    std::map<std::uint64_t, std::pair<std::uint32_t, std::uint32_t>> sizes;  // 'ispe'
    std::set<std::uint64_t> transformed;  // items with 'irot', 'imir' or 'clap'
    // The decoder configurations among the properties ('hvcC', 'av1C'):
    // their payloads, as positions in the file.
    struct Configuration {
        std::string type;
        std::size_t start = 0, size = 0;
    };
    std::vector<Configuration> configurations;
};

HeifItems ReadHeifItems(const std::vector<std::uint8_t>& bytes);

// A grid's layout, from its descriptor: rows, columns, the picture's size.
struct HeifGrid {
    int rows = 0, columns = 0;
    std::uint32_t width = 0, height = 0;
};
bool ReadHeifGrid(const std::vector<std::uint8_t>& bytes, const HeifItems& items, std::uint64_t grid, HeifGrid& layout);

}  // namespace pictavo
