// The BMP Suite in the shared corpus, for its tests.
#pragma once

#include "codecs/bmp/BmpReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace pictavo {

namespace fs = std::filesystem;
using test::MaxDifference;

// The suite's folder, or an empty path without the shared corpus.
inline fs::path Suite()
{
    const fs::path corpus = test::CorpusDir();
    return corpus.empty() ? fs::path() : corpus / "bmpsuite";
}

// The bitmaps of one group ("g", "q" or "b"), sorted.
inline std::vector<fs::path> Files(const std::string& group)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(Suite() / group))
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline Raster24 Load(const fs::path& file)
{
    Raster24 r;
    LoadBitmapFile(r, file.string());
    r.make24Bit();
    return r;
}

}  // namespace pictavo
