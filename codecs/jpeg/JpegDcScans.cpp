#include "codecs/jpeg/JpegDcScans.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <unistd.h>

#include <jerror.h>

namespace pictavo::jpeg {
namespace {

constexpr int SOI = 0xD8, EOI = 0xD9, SOS = 0xDA;

bool Restart(int marker) { return marker >= 0xD0 && marker <= 0xD7; }

// The file read through one block, for a walk from its start to its end.
class Bytes {
public:
    explicit Bytes(int fd) : fd_(fd), block_(1 << 16) {}

    // The byte at `at`, or -1 past the end (or when reading fails: the
    // library then meets the failure itself).
    int at(std::uint64_t at)
    {
        if (!holds(at) && !load(at)) return -1;
        return block_[at - start_];
    }

    // Where the next 0xFF from `at` on lies.
    std::optional<std::uint64_t> findFF(std::uint64_t at)
    {
        for (;;) {
            if (!holds(at) && !load(at)) return std::nullopt;
            const std::uint8_t* from = block_.data() + (at - start_);
            const void* hit = std::memchr(from, 0xFF, count_ - (at - start_));
            if (hit) return at + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - from);
            at = start_ + count_;
        }
    }

private:
    bool holds(std::uint64_t at) const { return at >= start_ && at < start_ + count_; }
    bool load(std::uint64_t at)
    {
        ssize_t n;
        do n = ::pread(fd_, block_.data(), block_.size(), static_cast<off_t>(at));
        while (n < 0 && errno == EINTR);
        start_ = at;
        count_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        return count_ > 0;
    }

    int fd_;
    std::vector<std::uint8_t> block_;
    std::uint64_t start_ = 0;
    std::size_t count_ = 0;
};

// Where entropy-coded data from `at` on ends: the first fill byte or 0xFF
// of the next marker that is not a restart. Inside the data every 0xFF is
// followed by a stuffed 0.
std::optional<std::uint64_t> DataEnd(Bytes& bytes, std::uint64_t at)
{
    for (;;) {
        const std::optional<std::uint64_t> ff = bytes.findFF(at);
        if (!ff) return std::nullopt;
        std::uint64_t next = *ff + 1;
        int code;
        while ((code = bytes.at(next)) == 0xFF) ++next;
        if (code < 0) return std::nullopt;
        if (code != 0 && !Restart(code)) return *ff;
        at = next + 1;
    }
}

}  // namespace

std::vector<Span> WithoutAcScans(int fd)
{
    Bytes bytes(fd);
    std::vector<Span> kept;
    const auto keep = [&kept](std::uint64_t begin, std::uint64_t end) {
        if (!kept.empty() && kept.back().end == begin) kept.back().end = end;
        else kept.push_back({begin, end});
    };
    constexpr std::uint64_t ToTheEnd = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t at = 0;
    for (;;) {
        // A marker: fill bytes, then its code.
        if (bytes.at(at) != 0xFF) break;
        std::uint64_t code = at + 1;
        while (bytes.at(code) == 0xFF) ++code;
        const int marker = bytes.at(code);
        if (marker < 0) break;
        if (marker == EOI) {
            keep(at, code + 1);
            return kept;
        }
        if (marker == SOI || Restart(marker) || marker == 0x01) {
            keep(at, code + 1);
            at = code + 1;
            continue;
        }
        if (at == 0) break;  // not a datastream
        const int high = bytes.at(code + 1), low = bytes.at(code + 2);
        if (low < 0) break;
        const std::uint64_t length = static_cast<std::uint64_t>(high << 8 | low);
        const std::uint64_t segmentEnd = code + 1 + length;
        if (marker != SOS) {
            if (length < 2) break;
            keep(at, segmentEnd);
            at = segmentEnd;
            continue;
        }
        // Its components, then the first coefficient it carries: 0 in a DC scan.
        const int components = bytes.at(code + 3);
        if (components < 1 || length != 6 + 2 * static_cast<std::uint64_t>(components)) break;
        const int first = bytes.at(code + 4 + 2 * static_cast<std::uint64_t>(components));
        const std::optional<std::uint64_t> end = DataEnd(bytes, segmentEnd);
        if (first == 0) keep(at, end ? *end : ToTheEnd);
        if (!end) return kept;  // the file ends inside the scan
        at = *end;
    }
    keep(at, ToTheEnd);
    return kept;
}

namespace {

// A coefficient array of DC coefficients alone, handed to the library in
// place of its own (which only the memory manager's methods look inside).
struct DcArray {
    JDIMENSION blocksPerRow;
    JDIMENSION rows;
    JDIMENSION windowRows;
    JCOEF* dc;           // one a block, row by row
    JBLOCKARRAY window;  // the rows of blocks last accessed
    JDIMENSION first;
    JDIMENSION count;
    bool written;
    bool acWritten;  // a scan of AC coefficients wrote into the window
};

// Puts the window's DC coefficients back, then fills it with rows `first`
// ... `first + count - 1`.
void MoveWindow(DcArray& array, JDIMENSION first, JDIMENSION count)
{
    const std::size_t perRow = array.blocksPerRow;
    if (array.written) {
        for (JDIMENSION r = 0; r < array.count; ++r) {
            JCOEF* dc = array.dc + (array.first + r) * perRow;
            const JBLOCKROW blocks = array.window[r];
            for (std::size_t b = 0; b < perRow; ++b) dc[b] = blocks[b][0];
        }
    }
    for (JDIMENSION r = 0; r < count; ++r) {
        const JCOEF* dc = array.dc + (first + r) * perRow;
        const JBLOCKROW blocks = array.window[r];
        if (array.acWritten) std::memset(blocks, 0, perRow * sizeof(JBLOCK));
        for (std::size_t b = 0; b < perRow; ++b) blocks[b][0] = dc[b];
    }
    array.first = first;
    array.count = count;
    array.written = false;
}

jvirt_barray_ptr RequestDcArray(j_common_ptr cinfo, int pool, boolean, JDIMENSION blocksPerRow, JDIMENSION rows,
                                JDIMENSION maxAccess)
{
    void* memory = (*cinfo->mem->alloc_small)(cinfo, pool, sizeof(DcArray));
    const std::size_t bytes = std::size_t(blocksPerRow) * rows * sizeof(JCOEF);
    auto* dc = static_cast<JCOEF*>((*cinfo->mem->alloc_large)(cinfo, pool, bytes));
    std::memset(dc, 0, bytes);
    const JBLOCKARRAY window = (*cinfo->mem->alloc_barray)(cinfo, pool, blocksPerRow, maxAccess);
    for (JDIMENSION r = 0; r < maxAccess; ++r) std::memset(window[r], 0, std::size_t(blocksPerRow) * sizeof(JBLOCK));
    auto* array = new (memory) DcArray{blocksPerRow, rows, maxAccess, dc, window, 0, 0, false, false};
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

JBLOCKARRAY AccessDcArray(j_common_ptr cinfo, jvirt_barray_ptr handle, JDIMENSION first, JDIMENSION count,
                          boolean writable)
{
    DcArray& array = *reinterpret_cast<DcArray*>(handle);
    if (count > array.windowRows || first > array.rows || count > array.rows - first)
        ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
    if (first != array.first || count != array.count) MoveWindow(array, first, count);
    if (writable) array.written = true;
    // Only a damaged file's leftover AC scan writes more than the DC
    // coefficients; from then on the window is cleared as it moves.
    if (writable && cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->Ss > 0) array.acWritten = true;
    return array.window;
}

}  // namespace

void KeepOnlyDcCoefficients(j_decompress_ptr cinfo)
{
    cinfo->mem->request_virt_barray = RequestDcArray;
    cinfo->mem->access_virt_barray = AccessDcArray;
}

}  // namespace pictavo::jpeg
