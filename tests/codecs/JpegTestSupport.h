// What the JPEG tests share: a picture loaded from bytes, and decoded.
#pragma once

#include "codecs/jpeg/TJPEGImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pictavo {

using test::ErrorOf;
using test::MakeJpeg;
using test::ScratchDir;

inline TJPEGImage Loaded(const std::vector<std::uint8_t>& bytes)
{
    TJPEGImage jpeg;
    jpeg.loadFromBytes(bytes);
    return jpeg;
}

inline Raster24 Decoded(const std::vector<std::uint8_t>& bytes)
{
    TJPEGImage jpeg = Loaded(bytes);
    Raster24 r;
    jpeg.decodeInto(r);
    return r;
}

}  // namespace pictavo
