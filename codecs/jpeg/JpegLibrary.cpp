#include "codecs/jpeg/JpegLibrary.h"

#include "base/Stop.h"

#include "codecs/jpeg/JpegError.h"
#include "base/Errors.h"

#include "base/MemoryBudget.h"
#include "codecs/ByteStream.h"
#include "base/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <memory>
#include <new>
#include <optional>

#include <jerror.h>

namespace pictavo::jpeg {
namespace {

constexpr std::size_t BlockSize = 4096;
constexpr std::size_t FileBlockSize = 65536;

void ErrorExit(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, manager->errorText);
    std::longjmp(manager->jump, 1);
}

void MonitorProgress(j_common_ptr cinfo)
{
    if (!StopRequested()) return;
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    manager->stopped = true;
    std::longjmp(manager->jump, 1);
}

// Level -1 is a warning: damage the library read past. Higher levels trace.
void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level != -1) return;
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) manager->dataEnded = true;
    if (manager->warnings.count++ > 0) return;
    char text[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, text);
    try {
        manager->warnings.text = text;
    } catch (const std::bad_alloc&) {
        // The count still tells of the damage.
    }
}

void OutputMessage(j_common_ptr) {}

void ResetErrorManager(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void InitSource(j_decompress_ptr) {}

void SupplyEndOfImage(j_decompress_ptr cinfo, DataSource* src)
{
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->eoi[0] = 0xFF;
    src->eoi[1] = JPEG_EOI;
    src->pub.next_input_byte = src->eoi;
    src->pub.bytes_in_buffer = 2;
}

// The next bytes of the parts to read; 0 past the last.
std::size_t ReadSpans(DataSource& src)
{
    for (; src.span < src.spans.size(); ++src.span) {
        Span& part = src.spans[src.span];
        if (part.begin >= part.end) continue;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(src.block.size(), part.end - part.begin));
        ssize_t n;
        do n = ::pread(src.fd, src.block.data(), count, static_cast<off_t>(part.begin));
        while (n < 0 && errno == EINTR);
        if (n < 0) throw EReadError();
        if (n == 0) continue;  // the end of the file
        part.begin += static_cast<std::uint64_t>(n);
        return static_cast<std::size_t>(n);
    }
    return 0;
}

boolean FillFromFile(j_decompress_ptr cinfo, DataSource* src)
{
    std::size_t n = 0;
    bool failed = false;
    try {
        n = src->spans.empty() ? ReadUpTo(src->fd, src->block.data(), src->block.size(), src->offset) : ReadSpans(*src);
    } catch (const EReadError&) {
        failed = true;
    }
    if (failed) ERREXIT(cinfo, JERR_FILE_READ);
    if (n == 0) {
        if (src->offset == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        SupplyEndOfImage(cinfo, src);
        return TRUE;
    }
    src->offset += n;
    src->pub.next_input_byte = src->block.data();
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<DataSource*>(cinfo->src);
    if (src->fd >= 0) return FillFromFile(cinfo, src);
    if (src->offset >= src->size) {
        if (src->offset == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        SupplyEndOfImage(cinfo, src);
        return TRUE;
    }
    const std::size_t n = std::min(BlockSize, src->size - src->offset);
    src->pub.next_input_byte = src->data + src->offset;
    src->pub.bytes_in_buffer = n;
    src->offset += n;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<DataSource*>(cinfo->src);
    if (count <= 0) return;
    while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void InitDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->block;
    dest->pub.free_in_buffer = BlockSize;
}

// Growing the output can run out of memory; report it as the library would.
void Append(j_compress_ptr cinfo, const JOCTET* bytes, std::size_t count)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    bool grown = true;
    try {
        dest->out->insert(dest->out->end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);  // jumps; never from inside the handler
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    Append(cinfo, dest->block, BlockSize);
    dest->pub.next_output_byte = dest->block;
    dest->pub.free_in_buffer = BlockSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    Append(cinfo, dest->block, BlockSize - dest->pub.free_in_buffer);
}

}  // namespace

jpeg_error_mgr* InstallErrorManager(ErrorManager& manager)
{
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = ErrorExit;
    manager.pub.emit_message = EmitMessage;
    manager.pub.output_message = OutputMessage;
    manager.errorText[0] = '\0';
    manager.warnings = {};
    manager.stopped = false;
    manager.dataEnded = false;
    manager.pub.reset_error_mgr = ResetErrorManager;
    return &manager.pub;
}

void StopWhenAsked(j_decompress_ptr cinfo, jpeg_progress_mgr& progress)
{
    progress.progress_monitor = MonitorProgress;
    cinfo->progress = &progress;
}

int MessageNumber(int libraryCode)
{
    switch (libraryCode) {
    case JERR_ARITH_NOTIMPL: return 1;
    case JERR_BAD_PRECISION: return 13;
    case JERR_BAD_SAMPLING: return 16;
    case JERR_COMPONENT_COUNT: return 24;
    case JERR_IMAGE_TOO_BIG: return 40;
    case JERR_INPUT_EMPTY: return 41;
    case JERR_NO_IMAGE: return 50;
    case JERR_NO_SOI: return 52;
    case JERR_SOF_UNSUPPORTED: return 59;
    case JERR_UNKNOWN_MARKER: return 67;
    default: return libraryCode;
    }
}

void RaiseLibraryError(int libraryCode, const char* text)
{
    if (libraryCode == JERR_OUT_OF_MEMORY || libraryCode == JERR_NO_BACKING_STORE ||
        libraryCode == JERR_TFILE_CREATE || libraryCode == JERR_VIRTUAL_BUG)
        throw EOutOfMemory();
    EJPEG error(MessageNumber(libraryCode));
    error.setDetail(text);
    throw error;
}

void RaiseLibraryError(const ErrorManager& manager)
{
    if (manager.stopped) throw RunStopped();
    RaiseLibraryError(manager.pub.msg_code, manager.errorText);
}

void AttachSource(j_decompress_ptr cinfo, DataSource& source, const std::uint8_t* data, std::size_t size)
{
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    source.data = data;
    source.size = size;
    source.offset = 0;
    cinfo->src = &source.pub;
}

void AttachFileSource(j_decompress_ptr cinfo, DataSource& source, int fd)
{
    AttachSource(cinfo, source, nullptr, 0);
    // Every operation reads the file from its start by offset, whatever
    // another reading the same descriptor has done.
    source.fd = fd;
    source.block.resize(FileBlockSize);
}

namespace {

// The datastream's bytes by offset, from memory or read from the file a
// block at a time.
class StreamBytes {
public:
    // A header walk reads a few hundred bytes, a walk through the scans the
    // whole file: the block starts small and grows with each read.
    explicit StreamBytes(const DataSource& source) : source_(source)
    {
        if (source.fd >= 0) block_.resize(4096);
    }
    // The byte at `at`, or -1 past the end.
    int at(std::uint64_t offset)
    {
        if (!load(offset)) return -1;
        return (source_.fd < 0 ? source_.data : block_.data())[offset - start_];
    }
    // The offset of the first 0xFF at or after `from`, or nothing before the end.
    std::optional<std::uint64_t> nextFF(std::uint64_t from)
    {
        for (; load(from); from = start_ + length_) {
            const std::uint8_t* base = source_.fd < 0 ? source_.data : block_.data();
            const void* ff = std::memchr(base + (from - start_), 0xFF, static_cast<std::size_t>(length_ - (from - start_)));
            if (ff) return start_ + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - base);
        }
        return std::nullopt;
    }

private:
    bool load(std::uint64_t offset)
    {
        if (source_.fd < 0) {
            length_ = source_.size;
            return offset < source_.size;
        }
        if (offset >= start_ && offset < start_ + length_) return true;
        if (length_ > 0 && block_.size() < FileBlockSize) block_.resize(std::min(2 * block_.size(), FileBlockSize));
        const ssize_t n = ::pread(source_.fd, block_.data(), block_.size(), static_cast<off_t>(offset));
        start_ = offset;
        length_ = n > 0 ? static_cast<std::uint64_t>(n) : 0;
        return length_ > 0;
    }

    const DataSource& source_;
    std::vector<std::uint8_t> block_;
    std::uint64_t start_ = 0, length_ = 0;
};

}  // namespace

ScanFacts ReadScans(const DataSource& source, bool allScans)
{
    StreamBytes bytes(source);
    ScanFacts facts;
    std::uint64_t at = 2;  // after the start-of-image marker
    bool searching = false;  // in entropy-coded data, or in bytes where a marker should be
    for (;;) {
        if (searching) {
            const std::optional<std::uint64_t> ff = bytes.nextFF(at);
            if (!ff) break;
            const int next = bytes.at(*ff + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {  // stuffed zero, restart marker
                at = *ff + 2;
                continue;
            }
            at = *ff;
            searching = false;
        }
        if (bytes.at(at) != 0xFF) {
            searching = true;
            continue;
        }
        const int marker = bytes.at(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker < 0 || marker == JPEG_EOI) break;  // the picture's data ends here
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const int high = bytes.at(at + 2), low = bytes.at(at + 3);
        if (high < 0 || low < 0) break;
        at += 2 + static_cast<std::uint64_t>(high << 8 | low);
        if (marker != 0xDA) continue;
        // A scan: its entropy-coded data follows the header.
        if (++facts.scans > MaxScans) break;
        const int first = bytes.at(at);
        if (facts.scans == 1) facts.hasData = first >= 0 && !(first == 0xFF && bytes.at(at + 1) != 0x00);
        if (!allScans) break;
        searching = true;
    }
    return facts;
}

void CheckScanCount(const DataSource& source)
{
    if (ReadScans(source, true).scans > MaxScans)
        throw EInvalidGraphic("JPEG file has more than " + std::to_string(MaxScans) + " scans");
}

std::vector<std::uint8_t> EmbeddedProfile(j_decompress_ptr cinfo)
{
    JOCTET* data = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(cinfo, &data, &length)) return {};
    const std::unique_ptr<JOCTET, decltype(&std::free)> owned(data, std::free);
    return {data, data + length};
}

void CheckSavedMarkers(const DataSource& source)
{
    StreamBytes bytes(source);
    std::uint64_t saved = 0;
    // Segments follow the start-of-image marker back to back until the first
    // scan; a file that breaks the pattern is left to the library to judge.
    for (std::uint64_t at = 2; bytes.at(at) == 0xFF;) {
        const int marker = bytes.at(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker < 0 || marker == JPEG_EOI || marker == 0xDA || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01)
            break;
        const int high = bytes.at(at + 2), low = bytes.at(at + 3);
        if (low < 0) break;
        const std::uint64_t length = static_cast<std::uint64_t>(high << 8 | low);
        if (marker == JPEG_APP0 + 1 || marker == JPEG_APP0 + 2) saved += length;
        at += 2 + length;
    }
    CheckMemoryBudget(saved);
}

void LimitMemory(j_decompress_ptr cinfo, std::uint64_t bytes)
{
    cinfo->mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(bytes, LONG_MAX));
}

void AttachDestination(j_compress_ptr cinfo, MemoryDestination& destination, std::vector<std::uint8_t>& out)
{
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    destination.out = &out;
    cinfo->dest = &destination.pub;
}

}  // namespace pictavo::jpeg
