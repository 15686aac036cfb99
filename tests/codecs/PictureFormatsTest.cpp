#include "codecs/PictureFormats.h"
#include "codecs/TJPEGImage.h"
#include "imaging/ColourProfile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace pictavo {
namespace {

// A stored picture: class-name record, count, JPEG bytes.
std::vector<std::uint8_t> Stored(const std::string& className, const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> b = {static_cast<std::uint8_t>(className.size())};
    b.insert(b.end(), className.begin(), className.end());
    const auto n = static_cast<std::uint32_t>(jpeg.size());
    b.insert(b.end(), {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), std::uint8_t(n >> 24)});
    b.insert(b.end(), jpeg.begin(), jpeg.end());
    return b;
}

class PictureFormatsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        UnregisterJpegFormats();
        UnregisterBitmapFormat();
    }
};

TEST_F(PictureFormatsTest, JpegRegistersJpegThenJpg)
{
    RegisterJpegFormats();
    const std::vector<PictureFormat> formats = RegisteredFormats();
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].extension, "jpeg");
    EXPECT_EQ(formats[1].extension, "jpg");
    EXPECT_EQ(formats[1].description, "JPEG Image File");
    UnregisterJpegFormats();
    EXPECT_TRUE(RegisteredFormats().empty());
}

TEST_F(PictureFormatsTest, LoadsFilesByExtensionIgnoringCase)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("a.JPG"), test::MakeJpeg(12, 8, test::Gradient));
    test::WriteBytes(dir.file("b.bmp"), test::MakeBmp({.width = 1, .height = 1, .pixels = {1, 2, 3, 0}}));
    Raster24 picture;
    EXPECT_FALSE(LoadPictureFile(dir.file("a.JPG"), picture));
    RegisterJpegFormats();
    RegisterBitmapFormat();
    ASSERT_TRUE(LoadPictureFile(dir.file("a.JPG"), picture));
    EXPECT_EQ(picture.width(), 12);
    ASSERT_TRUE(LoadPictureFile(dir.file("b.bmp"), picture));
    EXPECT_EQ(picture.width(), 1);
    EXPECT_FALSE(LoadPictureFile(dir.file("c.png"), picture));
    EXPECT_FALSE(LoadPictureFile(dir.path().string() + "/noextension", picture));
}

TEST_F(PictureFormatsTest, PreviewsArePutUpright)
{
    test::ScratchDir dir;
    test::WriteBytes(dir.file("p.jpg"),
                     test::MakeJpeg(40, 20, test::Gradient, {.app1 = test::ExifWithOrientation(6)}));
    RegisterJpegFormats();
    Raster24 picture;
    ASSERT_TRUE(LoadPictureFile(dir.file("p.jpg"), picture));
    EXPECT_EQ(picture.width(), 20);
    EXPECT_EQ(picture.height(), 40);
}

TEST_F(PictureFormatsTest, PreviewsShowProfiledColours)
{
    const std::string adobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
    if (!std::filesystem::exists(adobe)) GTEST_SKIP() << "colord-data is not installed";
    test::ScratchDir dir;
    test::WriteBytes(dir.file("plain.jpg"), test::MakeJpeg(40, 20, test::Gradient));
    test::WriteBytes(dir.file("tagged.jpg"), test::MakeJpeg(40, 20, test::Gradient, {.icc = test::ReadBytes(adobe)}));
    RegisterJpegFormats();
    Raster24 plain, tagged, expected;
    ASSERT_TRUE(LoadPictureFile(dir.file("plain.jpg"), plain));
    ASSERT_TRUE(LoadPictureFile(dir.file("tagged.jpg"), tagged));
    expected = plain;
    ConvertToSrgb(expected, test::ReadBytes(adobe));
    for (int y = 0; y < 20; ++y)
        ASSERT_TRUE(std::equal(tagged.scanLine(y), tagged.scanLine(y) + 120, std::as_const(expected).scanLine(y)));
    EXPECT_FALSE(std::equal(plain.scanLine(0), plain.scanLine(0) + 120, std::as_const(tagged).scanLine(0)));
}

TEST_F(PictureFormatsTest, StoredPicturesFindTheirClassByName)
{
    const std::vector<std::uint8_t> record = Stored("TJPEGImage", test::MakeJpeg(10, 6, test::Gradient));
    Raster24 picture;
    ByteStream unregistered(record.data(), record.size());
    ReadStoredPicture(unregistered, picture);  // no class: empty, no error
    EXPECT_EQ(picture.width(), 0);

    RegisterJpegFormats();
    ByteStream stream(record.data(), record.size());
    ReadStoredPicture(stream, picture);
    EXPECT_EQ(picture.width(), 10);
    EXPECT_EQ(picture.height(), 6);
}

}  // namespace
}  // namespace pictavo
