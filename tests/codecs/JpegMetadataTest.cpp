// What a JPEG carries beside its pixels: ICC profiles, EXIF orientation, the
// embedded count-then-bytes payload.
#include "tests/codecs/JpegTestSupport.h"
#include "codecs/Exif.h"

namespace pictavo {
namespace {

TEST(TJPEGImage, EmbeddedProfilesAreReadWhole)
{
    // Longer than one marker holds, so it comes in several chunks.
    std::vector<std::uint8_t> icc(150000);
    for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<std::uint8_t>(i * 7 / 3);
    EXPECT_EQ(Loaded(MakeJpeg(16, 16, test::Gradient, {.icc = icc})).iccProfile(), icc);
    EXPECT_TRUE(Loaded(MakeJpeg(16, 16, test::Gradient)).iccProfile().empty());
}

TEST(TJPEGImage, EmbeddedPayloadIsCountThenBytes)
{
    const std::vector<std::uint8_t> jpegBytes = MakeJpeg(20, 10, test::Gradient);
    std::vector<std::uint8_t> payload = {std::uint8_t(jpegBytes.size()), std::uint8_t(jpegBytes.size() >> 8), 0, 0};
    payload.insert(payload.end(), jpegBytes.begin(), jpegBytes.end());
    ByteStream stream(payload.data(), payload.size());
    TJPEGImage jpeg;
    jpeg.readEmbedded(stream);
    EXPECT_EQ(jpeg.width(), 20);
    EXPECT_EQ(stream.remaining(), 0u);

    ByteStream shortStream(payload.data(), payload.size() - 1);
    EXPECT_EQ(ErrorOf([&] { jpeg.readEmbedded(shortStream); }), "Stream read error");
}

TEST(TJPEGImage, ExifOrientationIsReadAndDamageMeansUpright)
{
    for (int o = 1; o <= 8; ++o)
        for (bool big : {false, true})
            EXPECT_EQ(Loaded(MakeJpeg(8, 8, test::Gradient, {.app1 = test::ExifWithOrientation(o, big)})).orientation(), o);

    const std::vector<std::uint8_t> good = test::ExifWithOrientation(6);
    auto broken = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> b = good;
        b[at] = value;
        return b;
    };
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
        {"truncated", std::vector<std::uint8_t>(good.begin(), good.begin() + 20)},
        {"directory offset past the end", broken(10, 0xF0)},
        {"directory pointing at itself", broken(10, 0)},
        {"wrong byte-order mark", broken(6, 'X')},
        {"value out of range", broken(6 + 8 + 2 + 8, 9)},
        {"wrong type", broken(6 + 8 + 2 + 2, 4)},
        {"entry count past the end", broken(6 + 8, 200)},
        {"not EXIF", broken(0, 'e')},
        // Another tag, and the next directory pointing back at this one.
        {"a loop of directories", [&] {
             std::vector<std::uint8_t> b = broken(6 + 8 + 2, 0x10);  // tag 0x0110 instead of 0x0112
             b[6 + 8 + 2 + 12] = 8;  // next directory: offset 8, itself
             return b;
         }()},
    };
    for (const auto& [name, block] : cases) {
        EXPECT_EQ(ExifOrientation(block.data(), block.size()), 1) << name;
        EXPECT_EQ(Loaded(MakeJpeg(8, 8, test::Gradient, {.app1 = block})).orientation(), 1) << name;
    }
}

}  // namespace
}  // namespace pictavo
