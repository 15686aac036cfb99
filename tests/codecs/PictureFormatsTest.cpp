#include "codecs/PictureFormats.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace pictavo {
namespace {

// A stored picture: class-name record, count, JPEG bytes.
std::vector<std::uint8_t> Stored(const std::string& className, const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> b = {static_cast<std::uint8_t>(className.size())};
    b.insert(b.end(), className.begin(), className.end());
    test::PutLittle(b, jpeg.size(), 4);
    b.insert(b.end(), jpeg.begin(), jpeg.end());
    return b;
}

TEST(PictureFormats, KindsByNameAndByContent)
{
    const auto name = [](const PictureKind* kind) { return kind ? kind->name : std::string("none"); };
    struct Case { const char* file; const char* any; const char* classic; };
    for (const Case& c : {Case{"a.JPG", "JPEG", "JPEG"}, Case{"a.jpe", "JPEG", "none"}, Case{"a.Heic", "HEIF", "HEIF"},
                          Case{"x.d/a", "none", "none"}, Case{"a.tiff", "TIFF", "TIFF"}, Case{"a.bmp.txt", "none", "none"}}) {
        EXPECT_EQ(name(KindOfName(c.file)), c.any) << c.file;
        EXPECT_EQ(name(KindOfName(c.file, true)), c.classic) << c.file;
    }
    const std::vector<std::uint8_t> jpeg = test::MakeJpeg(4, 4, test::Gradient);
    EXPECT_EQ(KindOfContent(jpeg.data(), jpeg.size()), &JpegKind());
    const std::uint8_t bitmap[] = {'B', 'M', 0};
    EXPECT_EQ(KindOfContent(bitmap, sizeof bitmap), &BitmapKind());
    EXPECT_EQ(KindOfContent(bitmap + 1, 2), nullptr);
}

TEST(PictureFormats, StoredPicturesFindTheirClassByName)
{
    const std::vector<std::uint8_t> jpeg = test::MakeJpeg(10, 6, test::Gradient);
    Raster24 picture;
    const std::vector<std::uint8_t> unknown = Stored("TPngImage", jpeg);
    ByteStream other(unknown.data(), unknown.size());
    ReadStoredPicture(other, picture);  // a class it does not read: empty, no error
    EXPECT_EQ(picture.width(), 0);

    const std::vector<std::uint8_t> record = Stored("TJPEGImage", jpeg);
    ByteStream stream(record.data(), record.size());
    ReadStoredPicture(stream, picture);
    EXPECT_EQ(picture.width(), 10);
    EXPECT_EQ(picture.height(), 6);
}

}  // namespace
}  // namespace pictavo
