// A JPEG decoded at an eighth of its size needs little more than each
// block's DC coefficient. A progressive file sends those in scans of their
// own; its scans of AC coefficients, most of its bytes and of its decoding
// time, can then be left out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace pictavo::jpeg {

// A part of a file: bytes begin ... end - 1. An end past the file's means
// up to its end.
struct Span {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// The parts of the datastream in the open file `fd` that remain when every
// scan of AC coefficients is left out: its marker segments and its DC
// scans, in order. From the first thing that is not a well-formed segment
// or scan on, the rest is kept as it is, for the library to judge.
std::vector<Span> WithoutAcScans(int fd);

// Even so, the library keeps all 64 coefficients of every block of a
// progressive picture: a buffer twice the picture's samples, zeroed and
// faulted in page by page, for one coefficient in 64. Has it keep the DC
// coefficients alone: each access is served from a window of whole blocks
// whose other coefficients are 0, which is all they can be without the AC
// scans. For a progressive picture read without its AC scans, between
// jpeg_read_header and jpeg_start_decompress.
void KeepOnlyDcCoefficients(j_decompress_ptr cinfo);

}  // namespace pictavo::jpeg
