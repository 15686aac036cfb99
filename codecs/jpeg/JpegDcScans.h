// A JPEG decoded at an eighth of its size needs little more than each
// block's DC coefficient. A progressive file sends those in scans of their
// own; its scans of AC coefficients, most of its bytes and of its decoding
// time, can then be left out.
#pragma once

#include <cstdint>
#include <vector>

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

}  // namespace pictavo::jpeg
