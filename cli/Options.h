// The command line of the pictavo tool.
#pragma once

#include "batch/Model.h"
#include "batch/OutputNames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pictavo::cli {

struct Options {
    BatchModel model;  // format, size, quality, sharpening and series set
    std::string folder;
    std::string outputFolder;
    std::string nameTemplate = DefaultNameTemplate;
    std::string filesFrom;  // "-": standard input; empty: list the folder
    bool recursive = false;
    int shard = 1, shards = 1;  // --shard K/N
    bool keepGoing = false;
    bool update = false;  // leave outputs that are up to date as they are
    int jobs = 0;  // 0: one per processor
    std::uint64_t memoryLimit = 0;  // 0: the default budget
    std::uint64_t totalSize = 0;    // --total-size; 0: none
    bool quiet = false;
    bool strict = false;  // a damaged picture makes the run fail
    bool qualityGiven = false;
    bool help = false;
    bool version = false;
};

inline constexpr const char* Usage = "Usage: pictavo [OPTION]... FOLDER";

// `Usage`, what the tool does, and one line per option: the text help2man
// turns into the manual page.
std::string HelpText();

// The version and the licence.
std::string VersionText(const std::string& version);

// Parses the arguments after the program name as GNU tools do: options
// anywhere, "--opt=value" or "--opt value", unambiguous abbreviations of
// long options, bundled short options ("-qj4"), and "--" before a FOLDER
// that starts with '-'. On a usage error returns nothing and sets `error`.
std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error);

}  // namespace pictavo::cli
