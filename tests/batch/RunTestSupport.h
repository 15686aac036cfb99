// What the tests of a run share: pictures in a scratch folder, the model
// scanned from it, the sizes written.
#pragma once

#include "base/Files.h"
#include "batch/FolderScan.h"
#include "batch/ListOrderRun.h"
#include "batch/Pipeline.h"
#include "batch/ResizeRun.h"
#include "batch/RunRecord.h"
#include "codecs/jpeg/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pictavo {

namespace fs = std::filesystem;
using test::ErrorOf;
using test::ScratchDir;

struct Size {
    int w, h;
    bool operator==(const Size&) const = default;
};

inline Size JpegSize(const std::string& path)
{
    TJPEGImage jpeg;
    jpeg.loadFromFile(path);
    return {jpeg.width(), jpeg.height()};
}

inline void WriteJpeg(const ScratchDir& dir, const std::string& name, int w, int h, test::JpegOptions options = {})
{
    test::WriteBytes(dir.file(name), test::MakeJpeg(w, h, test::Gradient, options));
}

inline std::vector<std::uint8_t> Bmp24(int w, int h)
{
    test::BmpFields s{.width = w, .height = h};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const test::Rgb p = test::Gradient(x, y);
            s.pixels.insert(s.pixels.end(), {p.b, p.g, p.r});
        }
        s.pixels.resize(s.pixels.size() + static_cast<std::size_t>((4 - (w * 3) % 4) % 4));
    }
    return test::MakeBmp(s);
}

inline BatchModel Scanned(const ScratchDir& dir, InputFormat format = InputFormat::Jpeg, int sizeIndex = 5)
{
    BatchModel model;
    model.format = format;
    model.sizeIndex = sizeIndex;  // "160 x 120" keeps the tests quick
    ScanFolder(model, dir.file("any"));
    return model;
}

}  // namespace pictavo
