#include "tests/batch/RunTestSupport.h"

namespace pictavo {
namespace {

// A tagged picture is shown in sRGB; one tagged sRGB gives the untagged bytes.
TEST(ResizeRun, ProfiledPicturesAreWrittenInSrgb)
{
    const std::string icc = "/usr/share/color/icc/";
    const auto installed = [](const std::string& file) {
        return fs::exists(file) ? test::ReadBytes(file) : std::vector<std::uint8_t>();
    };
    // Grey pictures follow grey profiles only.
    struct Profile { std::string name; std::vector<std::uint8_t> bytes; bool gray; bool same; };
    const Profile profiles[] = {
        {"sRGB", installed(icc + "sRGB.icc"), false, true},
        {"colord sRGB", installed(icc + "colord/sRGB.icc"), false, true},
        {"Adobe RGB", installed(icc + "colord/AdobeRGB1998.icc"), false, false},
        {"Adobe RGB on grey", installed(icc + "colord/AdobeRGB1998.icc"), true, true},
        {"linear grey", MakeGreyProfile(GammaTransfer(1.0)), true, false},
        {"linear grey on colour", MakeGreyProfile(GammaTransfer(1.0)), false, true},
    };
    // Streamed, whole picture (turned upright), only copied; with sharpening.
    struct Path { int w, h; int orientation; };
    const Path paths[] = {{900, 500, 1}, {500, 900, 6}, {120, 90, 1}};
    test::ScratchDir dir;
    BatchModel model;
    model.sizeIndex = 5;
    model.sharpen = true;
    for (const Path& p : paths) {
        for (const bool gray : {false, true}) {
            test::JpegOptions options{.gray = gray, .app1 = test::ExifWithOrientation(p.orientation)};
            test::WriteBytes(dir.file("plain.jpg"), test::MakeJpeg(p.w, p.h, test::Gradient, options));
            const std::vector<std::uint8_t> plain = ResizeOne(model, dir.file("plain.jpg"), "plain.jpg");
            for (const Profile& profile : profiles) {
                if (profile.bytes.empty() || profile.gray != gray) continue;
                options.icc = profile.bytes;
                test::WriteBytes(dir.file("tagged.jpg"), test::MakeJpeg(p.w, p.h, test::Gradient, options));
                const bool same = ResizeOne(model, dir.file("tagged.jpg"), "tagged.jpg") == plain;
                EXPECT_EQ(same, profile.same) << profile.name << " " << p.w << "x" << p.h;
            }
        }
    }
}

}  // namespace
}  // namespace pictavo
