// What each --metadata policy keeps, read back by exiftool from the tool's
// outputs, whatever container the input came in.
#include "codecs/Metadata.h"
#include "codecs/OutputFormats.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace pictavo {
namespace {

using test::RunCommand;
using test::ScratchDir;
namespace fs = std::filesystem;

// One file's tags as "Group:Name" -> value (numbers as numbers).
using Tags = std::map<std::string, std::string>;

// Every file under `folder`, by its path there.
std::map<std::string, Tags> ReadTags(const std::string& folder)
{
    const test::CommandResult r = RunCommand("cd " + folder + " && exiftool -r -a -s -G1 -n .");
    std::map<std::string, Tags> files;
    Tags* tags = nullptr;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("======== ")) {
            tags = &files[fs::path(line.substr(9)).lexically_normal().string()];
        } else if (line.starts_with("[") && tags) {
            const std::size_t group = line.find(']'), colon = line.find(" : ");
            std::string name = line.substr(group + 1, colon - group - 1);
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            (*tags)[line.substr(1, group - 1) + ":" + name] = line.substr(colon + 3);
        }
    }
    return files;
}

// Written into every input; `iptc` ones only into the JPEG, the one
// container whose IPTC the others' writers leave out. A tag kept under a
// policy reads back from the output; none keeps nothing.
struct Expected {
    std::vector<const char*> tags;
    bool safe, all;
    bool iptc = false;
};
const Expected Table[] = {
    {{"IFD0:Artist", "IFD0:Copyright", "IFD0:ImageDescription", "ExifIFD:DateTimeOriginal", "ExifIFD:OffsetTimeOriginal",
      "IFD0:Make", "IFD0:Model", "ExifIFD:LensModel", "ExifIFD:ExposureTime", "ExifIFD:FNumber", "ExifIFD:ISO",
      "XMP-dc:Creator", "XMP-dc:Rights"},
     true, true},
    {{"XMP-photoshop:Credit"}, true, true, true},
    {{"GPS:GPSLatitude", "XMP-exif:GPSLatitude", "XMP-photoshop:City", "XMP-iptcCore:Location", "ExifIFD:SerialNumber",
      "ExifIFD:LensSerialNumber", "ExifIFD:OwnerName", "Canon:SerialNumber"},
     false, true},
    {{"XMP-photoshop:Country"}, false, true, true},
    {{"IFD1:ThumbnailImage", "IFD0:ImageWidth"}, false, false},  // ImageWidth: the TIFF input's own
};

TEST(Metadata, EveryPolicyKeepsWhatItShouldFromEveryContainer)
{
    for (const char* tool : {"exiftool", "convert", "heif-enc"})
        if (!test::HaveProgram(tool)) GTEST_SKIP() << "needs " << tool;
    ScratchDir in, out;
    const std::string d = in.path().string() + "/";
    // A Canon maker note of one entry, its serial number 1234, little-endian
    // as the EXIF blocks written here.
    test::WriteBytes(d + "maker.bin", {1, 0, 0x0C, 0, 4, 0, 1, 0, 0, 0, 0xD2, 4, 0, 0, 0, 0, 0, 0});
    const test::CommandResult made = RunCommand(
        "convert -size 96x64 gradient:red-blue -write " + d + "thumb.jpg -write " + d + "photo.jpg -write " + d +
        "photo.png -write " + d + "photo.webp " + d + "photo.tif && heif-enc -q 90 -o " + d + "photo.heic " + d +
        "photo.png >/dev/null && " +
        "exiftool -q -overwrite_original -ExifByteOrder=II -Make=Canon -Model='Canon EOS 5D' '-MakerNotes<=" + d +
        "maker.bin' -Artist='Ann Artist' -Copyright='(c) Ann' -ImageDescription='A chair' "
        "-DateTimeOriginal='2024:05:06 07:08:09' -OffsetTimeOriginal=+02:00 -LensModel='EF 50mm' "
        "-ExposureTime=1/125 -FNumber=2.8 -ISO=200 -GPSLatitude=48.85 -GPSLatitudeRef=N -GPSLongitude=2.35 "
        "-GPSLongitudeRef=E -SerialNumber=BODY42 -LensSerialNumber=LENS42 -OwnerName='Owner Name' -Orientation#=6 "
        "'-ThumbnailImage<=" + d + "thumb.jpg' -XMP-dc:Creator='Ann Creator' -XMP-dc:Rights='All rights reserved' "
        "-XMP-photoshop:City=Paris -XMP-iptcCore:Location='Rue X' -XMP-exif:GPSLatitude=48.85 "
        "-IPTC:Credit='Iptc Credit' -IPTC:Country-PrimaryLocationName=France " + d + "photo.jpg && "
        "exiftool -q -q -overwrite_original -tagsFromFile " + d + "photo.jpg -all:all --IPTC:all '-ThumbnailImage<=" +
        d + "thumb.jpg' " + d + "photo.png " + d + "photo.webp " + d + "photo.tif " + d + "photo.heic && rm " + d +
        "thumb.jpg " + d + "maker.bin");
    ASSERT_EQ(made.status, 0) << made.out;

    const std::string run = std::string(PICTAVO_TOOL) + " --quiet --size 48x48 --name '{stem}-{n}' " + d;
    ASSERT_EQ(RunCommand(run + " --output " + out.file("plain")).status, 0);
    for (const OutputFormat& format : OutputFormats())
        for (const char* policy : MetadataPolicyNames) {
            const test::CommandResult r = RunCommand(run + " --output-format " + format.name + " --metadata " +
                                                     policy + " --output " + out.file(format.name + std::string("-") + policy));
            ASSERT_EQ(r.status, 0) << r.out;
        }
    const std::map<std::string, Tags> files = ReadTags(out.path().string());
    for (const OutputFormat& format : OutputFormats())
        for (const char* policy : MetadataPolicyNames)
            for (const char* input : {"01", "02", "03", "04", "05"}) {
                const std::string path = format.name + std::string("-") + policy + "/photo-" + input + "." + format.extension;
                SCOPED_TRACE(path);
                ASSERT_TRUE(files.contains(path));
                const Tags& tags = files.at(path);
                for (const Expected& e : Table) {
                    if (e.iptc && input != std::string("02")) continue;  // the JPEG input
                    const bool kept = policy == std::string("safe") ? e.safe : policy == std::string("all") && e.all;
                    for (const char* tag : e.tags) EXPECT_EQ(tags.contains(tag), kept) << tag;
                }
                if (policy == std::string("none")) continue;
                // Upright at its own size: 96x64 turned a quarter, but for
                // HEIF, which turns by its own transformations, not by EXIF.
                const bool heif = input == std::string("01");
                EXPECT_EQ(tags.at("IFD0:Orientation"), "1");
                EXPECT_EQ(tags.at("ExifIFD:ExifImageWidth"), heif ? "48" : "32");
                EXPECT_EQ(tags.at("ExifIFD:ExifImageHeight"), heif ? "32" : "48");
            }
    // No policy given writes what was always written.
    for (const char* input : {"01", "02", "03", "04", "05"})
        EXPECT_EQ(test::ReadBytes(out.file("plain/photo-" + std::string(input) + ".jpg")),
                  test::ReadBytes(out.file("jpg-none/photo-" + std::string(input) + ".jpg")));
}

// A damaged EXIF block costs the metadata, never the picture.
TEST(Metadata, DamagedExifIsReportedAndLeftOut)
{
    if (!test::HaveProgram("exiftool")) GTEST_SKIP() << "needs exiftool";
    ScratchDir in, out;
    // The orientation entry becomes a 100-character description far past
    // the block's end.
    std::vector<std::uint8_t> exif = test::ExifWithOrientation(6);
    const std::uint8_t entry[12] = {0x0E, 0x01, 2, 0, 100, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0};
    std::copy(std::begin(entry), std::end(entry), exif.begin() + 6 + 8 + 2);
    test::WriteBytes(in.file("broken.jpg"), test::MakeJpeg(64, 48, test::Gradient, {.app1 = exif}));
    const std::string run = std::string(PICTAVO_TOOL) + " --metadata all --output " + out.path().string() + " ";
    const test::CommandResult r = RunCommand(run + in.path().string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("broken.jpg: warning: damaged EXIF metadata, left out"), std::string::npos) << r.out;
    const Tags tags = ReadTags(out.path().string())["RurOdi01.jpg"];
    EXPECT_EQ(tags.at("File:ImageWidth"), "64");
    EXPECT_FALSE(tags.contains("IFD0:ImageDescription"));
    EXPECT_EQ(RunCommand(run + "--strict " + in.path().string()).status, 1);
}

}  // namespace
}  // namespace pictavo
