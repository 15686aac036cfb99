#include "codecs/Metadata.h"

#include "base/Errors.h"
#include "codecs/ByteStream.h"
#include "base/Files.h"
#include "codecs/PictureFormats.h"
#include "codecs/png/PngSource.h"
#include "codecs/webp/WebpSource.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>
#include <string_view>

#include <unistd.h>

#include <exiv2/exiv2.hpp>

namespace pictavo {
namespace {

// The blocks read, a parsed copy and the written copy; the XMP toolkit's own
// tables besides.
constexpr std::uint64_t CopiesHeld = 3;
constexpr std::uint64_t ToolkitMemory = 1 << 20;
// What one JPEG APP1 segment holds after its own identifier: the largest
// block every container can carry.
constexpr std::size_t MaxExifBlock = 65527;
constexpr std::size_t MaxXmpPacket = 65502;

// What the safe policy keeps: authorship and rights, capture time, camera,
// lens and exposure; and what any kept block needs to be read right.
const std::set<std::string, std::less<>> SafeExif = {
    "Exif.Image.Artist", "Exif.Image.Copyright", "Exif.Image.ImageDescription", "Exif.Image.XPAuthor",
    "Exif.Image.Make", "Exif.Image.Model", "Exif.Image.DateTime", "Exif.Image.Orientation",
    "Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized", "Exif.Photo.SubSecTime",
    "Exif.Photo.SubSecTimeOriginal", "Exif.Photo.SubSecTimeDigitized", "Exif.Photo.OffsetTime",
    "Exif.Photo.OffsetTimeOriginal", "Exif.Photo.OffsetTimeDigitized", "Exif.Photo.ExifVersion",
    "Exif.Photo.ColorSpace", "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension",
    "Exif.Photo.LensSpecification", "Exif.Photo.LensMake", "Exif.Photo.LensModel",
};
const std::set<std::string, std::less<>> SafeXmp = {
    "Xmp.dc.creator", "Xmp.dc.rights", "Xmp.dc.description", "Xmp.xmpRights.Marked", "Xmp.xmpRights.Owner",
    "Xmp.xmpRights.UsageTerms", "Xmp.xmpRights.WebStatement", "Xmp.photoshop.Credit",
    "Xmp.photoshop.DateCreated", "Xmp.xmp.CreateDate", "Xmp.xmp.ModifyDate", "Xmp.exif.DateTimeOriginal",
    "Xmp.exif.DateTimeDigitized", "Xmp.tiff.Make", "Xmp.tiff.Model", "Xmp.tiff.Orientation",
    "Xmp.exif.ExifVersion", "Xmp.exif.ColorSpace", "Xmp.exif.PixelXDimension", "Xmp.exif.PixelYDimension",
    "Xmp.exifEX.LensMake", "Xmp.exifEX.LensModel", "Xmp.exifEX.LensSpecification", "Xmp.aux.Lens",
    "Xmp.aux.LensInfo", "Xmp.aux.LensID",
};
// Exposure settings, by the same names in EXIF ("Exif.Photo.") and XMP
// ("Xmp.exif.", "Xmp.exifEX.").
const std::set<std::string, std::less<>> SafeExposure = {
    "ExposureTime", "FNumber", "ExposureProgram", "ISOSpeedRatings", "PhotographicSensitivity",
    "SensitivityType", "StandardOutputSensitivity", "RecommendedExposureIndex", "ISOSpeed",
    "ShutterSpeedValue", "ApertureValue", "BrightnessValue", "ExposureBiasValue", "MaxApertureValue",
    "SubjectDistance", "MeteringMode", "LightSource", "Flash", "FocalLength", "FocalLengthIn35mmFilm",
    "ExposureIndex", "SensingMethod", "SceneType", "CustomRendered", "ExposureMode", "WhiteBalance",
    "DigitalZoomRatio", "SceneCaptureType", "GainControl", "Contrast", "Saturation", "Sharpness",
    "SubjectDistanceRange",
};
// Never kept: the output has no colour profile and carries no other
// container's structures.
const std::set<std::string, std::less<>> NeverExif = {
    "Exif.Image.InterColorProfile", "Exif.Image.XMLPacket", "Exif.Image.IPTCNAA", "Exif.Image.ImageResources",
};
const std::set<std::string, std::less<>> NeverXmp = {"Xmp.photoshop.ICCProfile", "Xmp.xmp.Thumbnails"};
// How the input stored its pixels and their colours (a TIFF's first
// directory, or XMP's "tiff:" copy of it): never the output's.
const std::set<std::string, std::less<>> StorageTags = {
    "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression",
    "PhotometricInterpretation", "FillOrder", "StripOffsets", "SamplesPerPixel", "RowsPerStrip",
    "StripByteCounts", "PlanarConfiguration", "PageNumber", "TransferFunction", "Predictor", "WhitePoint",
    "PrimaryChromaticities", "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "SubIFDs",
    "ExtraSamples", "SampleFormat", "JPEGTables", "YCbCrCoefficients", "YCbCrSubSampling", "ReferenceBlackWhite",
};
// What a packet too large for a JPEG segment can best do without.
constexpr std::array<std::string_view, 2> XmpBulk = {"Xmp.xmpMM.History", "Xmp.photoshop.DocumentAncestors"};

// libexiv2 and its XMP toolkit keep global state: one picture at a time
// reads metadata, and what the library says while it does is collected.
std::mutex& Exiv2Lock()
{
    static std::mutex lock;
    return lock;
}

std::vector<std::string>* Complaints = nullptr;

void OnLibraryMessage(int level, const char* text)
{
    if (Complaints && level >= Exiv2::LogMsg::error) Complaints->emplace_back(text ? text : "");
}

struct Stored {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
    Exiv2::ByteOrder order = Exiv2::littleEndian;
};

// The name of a key's first property: "Xmp.xmpMM.History" for
// "Xmp.xmpMM.History[1]/stEvt:action".
std::string_view TopProperty(std::string_view key)
{
    return key.substr(0, key.find_first_of("[/"));
}

bool IsThumbnail(const Exiv2::Exifdatum& d)
{
    const std::string group = d.groupName(), tag = d.tagName();
    return group == "Thumbnail" || group.find("Preview") != std::string::npos ||
           tag.find("Thumbnail") != std::string::npos || tag.find("PreviewImage") != std::string::npos;
}

bool KeepsExif(MetadataPolicy policy, const Exiv2::Exifdatum& d)
{
    const std::string key = d.key();
    if (NeverExif.contains(key) || IsThumbnail(d) || (d.groupName() == "Image" && StorageTags.contains(d.tagName())))
        return false;
    if (policy == MetadataPolicy::All) return true;
    return SafeExif.contains(key) || (d.groupName() == "Photo" && SafeExposure.contains(d.tagName()));
}

bool KeepsXmp(MetadataPolicy policy, std::string_view key)
{
    const std::string_view top = TopProperty(key);
    if (NeverXmp.contains(top) || (top.starts_with("Xmp.tiff.") && StorageTags.contains(top.substr(9))))
        return false;
    if (policy == MetadataPolicy::All) return true;
    if (SafeXmp.contains(top)) return true;
    for (std::string_view prefix : {"Xmp.exif.", "Xmp.exifEX."})
        if (top.starts_with(prefix) && SafeExposure.contains(top.substr(prefix.size()))) return true;
    return false;
}

// The bytes of a JPEG's APP1 (EXIF, XMP) and APP13 (IPTC) segments, walked
// from the start of the file without reading them.
std::uint64_t JpegMetadataBytes(int fd)
{
    std::uint64_t total = 0;
    std::uint8_t segment[4];
    if (::pread(fd, segment, 2, 0) != 2 || segment[0] != 0xFF || segment[1] != 0xD8) return 0;
    for (off_t at = 2; ::pread(fd, segment, 4, at) == 4 && segment[0] == 0xFF;) {
        if (segment[1] == 0xFF) {
            ++at;
            continue;
        }
        if (segment[1] == 0xDA || segment[1] == 0xD9) break;
        const std::uint16_t length = BigEndian16(segment + 2);
        if (segment[1] == 0xE1 || segment[1] == 0xED) total += length;
        at += 2 + length;
    }
    return total;
}

// The bytes of the chunks that hold a PNG's or a WebP's metadata; the whole
// file for other containers, whose blocks may lie anywhere.
std::uint64_t HeldMetadataBytes(std::span<const std::uint8_t> file)
{
    const auto sum = [&](std::size_t at, bool png) {
        std::uint64_t total = 0;
        while (at + 8 <= file.size()) {
            const std::string_view type(reinterpret_cast<const char*>(file.data()) + at + (png ? 4 : 0), 4);
            const std::uint64_t length = png ? BigEndian32(&file[at]) : LittleEndian32(&file[at + 4]);
            if (png ? type == "eXIf" || type == "iTXt" || type == "zTXt" || type == "tEXt"
                    : type == "EXIF" || type == "XMP ")
                total += std::min<std::uint64_t>(length, file.size() - at);
            at += static_cast<std::size_t>(std::min<std::uint64_t>(length + (png ? 12 : 8 + (length & 1)), file.size()));
        }
        return total;
    };
    if (IsPngSignature(file.data(), file.size())) return sum(8, true);
    if (IsWebpSignature(file.data(), file.size())) return sum(12, false);
    return file.size();
}

void ReadContainer(const PictureSource& source, const std::string& path, Stored& stored)
{
    Exiv2::Image::AutoPtr image;
    const std::span<const std::uint8_t> held = source.fileBytes();
    if (!held.empty()) {
        image = Exiv2::ImageFactory::open(held.data(), static_cast<long>(held.size()));
    } else {
        // Of the files a decoder reads as it goes, only JPEGs carry metadata.
        std::uint8_t start[SignatureBytes];
        const FileDescriptor fd = OpenRegularFile(path, path);
        if (KindOfContent(start, ReadUpTo(fd.get(), start, sizeof start)) != &JpegKind()) return;
        // A file, never a URL, whatever the name looks like.
        image = Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(new Exiv2::FileIo(path)));
    }
    image->readMetadata();
    stored.exif = image->exifData();
    stored.xmp = image->xmpData();
    stored.iptc = image->iptcData();
    stored.order = image->byteOrder() == Exiv2::bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian;
}

// IPTC records have no place in most containers: what XMP does not already
// say is said in XMP, as the IPTC Core maps it.
void MergeIptc(Stored& stored)
{
    if (stored.iptc.empty()) return;
    Exiv2::XmpData converted;
    Exiv2::copyIptcToXmp(stored.iptc, converted);
    for (const Exiv2::Xmpdatum& d : converted)
        if (stored.xmp.findKey(Exiv2::XmpKey(d.key())) == stored.xmp.end()) stored.xmp.add(d);
}

// Whatever is kept describes the output: upright, its own size, sRGB.
void DescribeOutput(Stored& stored, int width, int height)
{
    if (!stored.exif.empty()) {
        stored.exif["Exif.Image.Orientation"] = std::uint16_t(1);
        stored.exif["Exif.Photo.PixelXDimension"] = std::uint32_t(width);
        stored.exif["Exif.Photo.PixelYDimension"] = std::uint32_t(height);
        if (stored.exif.findKey(Exiv2::ExifKey("Exif.Photo.ColorSpace")) != stored.exif.end())
            stored.exif["Exif.Photo.ColorSpace"] = std::uint16_t(1);
        if (const auto it = stored.exif.findKey(Exiv2::ExifKey("Exif.Iop.InteroperabilityIndex"));
            it != stored.exif.end())
            it->setValue("R98");
    }
    const auto set = [&](const char* key, const std::string& value) {
        if (stored.xmp.findKey(Exiv2::XmpKey(key)) != stored.xmp.end()) stored.xmp[key] = value;
    };
    set("Xmp.tiff.Orientation", "1");
    set("Xmp.exif.PixelXDimension", std::to_string(width));
    set("Xmp.exif.PixelYDimension", std::to_string(height));
    set("Xmp.exif.ColorSpace", "1");
}

std::string EncodeXmp(Exiv2::XmpData& xmp)
{
    std::string packet;
    if (xmp.empty()) return packet;
    if (Exiv2::XmpParser::encode(packet, xmp) != 0) return {};
    if (packet.size() <= MaxXmpPacket) return packet;
    for (std::string_view bulk : XmpBulk)
        for (auto it = xmp.begin(); it != xmp.end();) it = TopProperty(it->key()) == bulk ? xmp.erase(it) : std::next(it);
    if (Exiv2::XmpParser::encode(packet, xmp) != 0 || packet.size() > MaxXmpPacket) return {};
    return packet;
}

// The directory a library complaint names ("Offset of directory Canon, entry
// 0x0c00 is out of bounds"), or "" when it names none.
std::string ComplaintDirectory(const std::string& text)
{
    const std::size_t at = text.find("irectory ");
    if (at == std::string::npos) return {};
    const std::size_t start = at + 9;
    return text.substr(start, text.find_first_of(", ", start) - start);
}

bool IsMakerNote(const Exiv2::Exifdatum& d)
{
    return d.key() == "Exif.Photo.MakerNote" || d.groupName() == "MakerNote" ||
           Exiv2::ExifTags::isMakerGroup(d.groupName());
}

void AddWarning(DecodeWarnings& warnings, const std::string& text)
{
    if (warnings.count++ == 0) warnings.text = text;
}

}  // namespace

std::optional<MetadataPolicy> MetadataPolicyNamed(const std::string& name)
{
    for (std::size_t i = 0; i < MetadataPolicyNames.size(); ++i)
        if (name == MetadataPolicyNames[i]) return static_cast<MetadataPolicy>(i);
    return std::nullopt;
}

std::uint64_t MetadataMemory(const PictureSource& source, const std::string& path)
{
    std::uint64_t declared = HeldMetadataBytes(source.fileBytes());
    if (source.fileBytes().empty()) {
        const FileDescriptor fd = OpenRegularFile(path, path);
        declared = JpegMetadataBytes(fd.get());
    }
    return CopiesHeld * declared + ToolkitMemory;
}

namespace {

OutputMetadata ReadAndFilterMetadata(const PictureSource& source, const std::string& path, MetadataPolicy policy,
                                     int width, int height, DecodeWarnings& warnings)
{
    const std::lock_guard lock(Exiv2Lock());
    std::vector<std::string> complaints;
    Complaints = &complaints;
    struct Restore {
        ~Restore() { Complaints = nullptr; }
    } restore;
    static const bool ready = [] {
        Exiv2::LogMsg::setHandler(OnLibraryMessage);
        return Exiv2::XmpParser::initialize();
    }();
    (void)ready;

    Stored stored;
    std::string damage;
    try {
        if (std::optional<OutputMetadata> blocks = source.containerMetadata()) {
            if (!blocks->exif.empty())
                stored.order = Exiv2::ExifParser::decode(stored.exif,
                                                         reinterpret_cast<const Exiv2::byte*>(blocks->exif.data()),
                                                         static_cast<std::uint32_t>(blocks->exif.size()));
            if (!blocks->xmp.empty() && Exiv2::XmpParser::decode(stored.xmp, blocks->xmp) != 0)
                damage = "damaged XMP metadata, left out";
        } else {
            ReadContainer(source, path, stored);
        }
    } catch (const Exiv2::AnyError& error) {
        damage = std::string("damaged metadata, left out: ") + error.what();
    }
    // A maker note is the camera maker's own, often damaged by other
    // programs: it goes alone. Damage anywhere else takes all the metadata.
    bool makerNoteDamaged = false;
    for (std::string complaint : complaints) {
        while (!complaint.empty() && std::isspace(static_cast<unsigned char>(complaint.back()))) complaint.pop_back();
        const std::string directory = ComplaintDirectory(complaint);
        if (!directory.empty() && Exiv2::ExifTags::isMakerGroup(directory)) makerNoteDamaged = true;
        else if (damage.empty()) damage = "damaged EXIF metadata, left out: " + complaint;
    }
    if (!damage.empty()) {
        AddWarning(warnings, damage);
        return {};
    }
    if (makerNoteDamaged) {
        for (auto it = stored.exif.begin(); it != stored.exif.end();)
            it = IsMakerNote(*it) ? stored.exif.erase(it) : std::next(it);
        if (policy == MetadataPolicy::All) AddWarning(warnings, "damaged maker notes, left out");
    }

    MergeIptc(stored);
    for (auto it = stored.exif.begin(); it != stored.exif.end();)
        it = KeepsExif(policy, *it) ? std::next(it) : stored.exif.erase(it);
    for (auto it = stored.xmp.begin(); it != stored.xmp.end();)
        it = KeepsXmp(policy, it->key()) ? std::next(it) : stored.xmp.erase(it);
    DescribeOutput(stored, width, height);

    OutputMetadata out;
    try {
        if (!stored.exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, stored.order, stored.exif);
            if (blob.size() <= MaxExifBlock) out.exif.assign(blob.begin(), blob.end());
            else AddWarning(warnings, "EXIF metadata too large to keep, left out");
        }
        out.xmp = EncodeXmp(stored.xmp);
        if (out.xmp.empty() && !stored.xmp.empty()) AddWarning(warnings, "XMP metadata too large to keep, left out");
    } catch (const Exiv2::AnyError& error) {
        AddWarning(warnings, std::string("damaged metadata, left out: ") + error.what());
        return {};
    }
    return out;
}

}  // namespace

OutputMetadata ReadMetadata(const PictureSource& source, const std::string& path, MetadataPolicy policy, int width,
                            int height, DecodeWarnings& warnings)
{
    if (policy == MetadataPolicy::None) return {};
    return WithMemoryErrors([&] { return ReadAndFilterMetadata(source, path, policy, width, height, warnings); });
}

}  // namespace pictavo
