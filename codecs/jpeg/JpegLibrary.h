// The glue between libjpeg and the adapter: an error manager that turns every
// library error into one exception, and in-memory data source and destination.
//
// Library errors leave through longjmp back to the operation's setjmp; only
// then is the C++ exception raised, so no exception crosses the C library.
#pragma once

#include "base/Limits.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "codecs/jpeg/JpegDcScans.h"
#include "codecs/PictureSource.h"

namespace pictavo::jpeg {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char errorText[JMSG_LENGTH_MAX];  // the library's words for the error
    DecodeWarnings warnings;           // damage read past, for this operation
    bool stopped = false;              // the jump came from a stop request
    bool dataEnded = false;            // a scan's data ran out: the blocks after it are empty
};

// Installs the five entries: error_exit keeps the library's text and jumps to
// `jump`; warnings are counted and the first one's text kept; trace messages
// are dropped.
jpeg_error_mgr* InstallErrorManager(ErrorManager& manager);

// Has the library look at the thread's stop flag between its steps (every
// row of blocks of every pass), and jump out as from an error when it is set;
// RaiseLibraryError then raises RunStopped. For after jpeg_create_decompress.
void StopWhenAsked(j_decompress_ptr cinfo, jpeg_progress_mgr& progress);

// The number that "JPEG error #%d" shows for a library message code: the
// classic numbering for the messages that ordinary files reach, the linked
// library's own code for any other.
int MessageNumber(int libraryCode);

// Raises EJPEG, with the library's text as the detail the command line
// shows ("Out of memory" for the library's allocation failures and for
// arrays past its memory limit, which has no backing store here).
[[noreturn]] void RaiseLibraryError(int libraryCode, const char* text = "");
[[noreturn]] void RaiseLibraryError(const ErrorManager& manager);

// Reads `size` bytes in 4096-byte blocks, or an open file from its start in
// larger blocks, so a large file is never held whole. At a premature end the
// library's warning is raised and an end-of-image marker supplied.
struct DataSource {
    jpeg_source_mgr pub;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
    int fd = -1;  // the file read when not negative
    std::vector<JOCTET> block;
    // When not empty, only these parts of the file are read, in order.
    std::vector<Span> spans;
    std::size_t span = 0;
    JOCTET eoi[2];
};
void AttachSource(j_decompress_ptr cinfo, DataSource& source, const std::uint8_t* data, std::size_t size);
void AttachFileSource(j_decompress_ptr cinfo, DataSource& source, int fd);

// From a header read with its APP1 and APP2 markers saved: the ICC profile
// (empty when there is none or it is damaged) and the EXIF orientation (1
// when absent).
std::vector<std::uint8_t> EmbeddedProfile(j_decompress_ptr cinfo);
int SavedOrientation(const jpeg_decompress_struct& cinfo);

// One library decompressor per operation, destroyed however the operation
// ends. Created only after the operation's setjmp, since creation can fail.
struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    DataSource source{};
    jpeg_progress_mgr progress{};
    bool headerRead = false;  // ReadJpegHeader has read the header
    bool started = false;     // rows are being delivered

    Decompressor() { cinfo.err = InstallErrorManager(errors); }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// The scans of a datastream, found by walking its markers from the start to
// its end-of-image marker (entropy-coded data never holds a marker: every
// 0xFF in it is stuffed), so whatever follows the picture is never read.
struct ScanFacts {
    int scans = 0;         // counted up to MaxScans + 1
    bool hasData = false;  // the first scan holds entropy-coded data
};
// With `allScans` false the walk stops at the first scan's data.
ScanFacts ReadScans(const DataSource& source, bool allScans);
// Raises the refusal when the datastream holds more than MaxScans scans.
// Counted before decoding, so such a file costs one quick pass, not minutes.
void CheckScanCount(const DataSource& source);
// The header keeps every APP1 (EXIF) and APP2 (ICC) segment it meets, and
// a file can hold thousands: their declared lengths, up to the first scan,
// are checked against the memory budget before the header is read.
void CheckSavedMarkers(const DataSource& source);
// The library's own arrays count against the memory budget: past `bytes`
// it reports the failure that becomes "Out of memory".
void LimitMemory(j_decompress_ptr cinfo, std::uint64_t bytes);

// Appends to `out` in 4096-byte blocks.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* out;
    JOCTET block[4096];
};
void AttachDestination(j_compress_ptr cinfo, MemoryDestination& destination, std::vector<std::uint8_t>& out);

}  // namespace pictavo::jpeg
