// The command line of the pictavo tool.
#pragma once

#include "batch/Model.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pictavo::cli {

struct Options {
    BatchModel model;  // format, size, quality, sharpening and series set
    std::string folder;
    std::string outputFolder;
    int jobs = 0;  // 0: one per processor
    std::uint64_t memoryLimit = 0;  // 0: the default budget
    bool quiet = false;
    bool strict = false;  // a damaged picture makes the run fail
    bool help = false;
    bool version = false;
};

inline constexpr const char* Usage =
    "usage: pictavo [--format jpg|bmp] [--size 999x750|800x600|640x480|480x360|320x240|160x120|WxH]\n"
    "               [--quality 90|75|60|50|30|1..100] [--sharpen] [--series NAME] [--output DIR]\n"
    "               [--jobs N] [--memory-limit SIZE] [--quiet] [--strict] FOLDER";

// Parses the arguments after the program name. On a usage error returns
// nothing and sets `error`.
std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error);

}  // namespace pictavo::cli
