#include "codecs/heif/CodedSizes.h"

#include "codecs/ByteStream.h"

#include <algorithm>

namespace pictavo {
namespace {

// Reads the bits of an HEVC parameter set, emulation prevention removed.
class BitReader {
public:
    explicit BitReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool ok() const { return ok_; }
    std::uint64_t bits(int count)
    {
        std::uint64_t value = 0;
        for (; count > 0; --count, ++position_) {
            if (position_ >= 8 * bytes_.size()) {
                ok_ = false;
                return 0;
            }
            value = value << 1 | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1);
        }
        return value;
    }
    std::uint64_t golomb()  // ue(v)
    {
        int zeros = 0;
        while (ok_ && bits(1) == 0)
            if (++zeros > 32) ok_ = false;
        return ok_ ? (std::uint64_t(1) << zeros) - 1 + bits(zeros) : 0;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

// The picture size a sequence parameter set declares (NAL header first);
// 0 when it cannot be read.
std::uint64_t SpsPixels(const std::uint8_t* nal, std::size_t size)
{
    std::vector<std::uint8_t> rbsp;
    for (std::size_t i = 2; i < size; ++i) {
        if (i >= 4 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    BitReader r(std::move(rbsp));
    r.bits(4);  // video parameter set id
    const int subLayers = static_cast<int>(r.bits(3));
    r.bits(1);
    r.bits(96);  // general profile, tier and level
    std::vector<bool> profile(static_cast<std::size_t>(subLayers)), level(static_cast<std::size_t>(subLayers));
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = r.bits(1) != 0;
        level[i] = r.bits(1) != 0;
    }
    for (int i = subLayers; subLayers > 0 && i < 8; ++i) r.bits(2);
    for (int i = 0; i < subLayers; ++i) r.bits((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    r.golomb();  // sequence parameter set id
    if (r.golomb() == 3) r.bits(1);  // 4:4:4 with separate colour planes
    const std::uint64_t width = r.golomb(), height = r.golomb();
    return r.ok() ? width * height : 0;
}

// The largest frame an AV1 sequence header allows (its payload); 0 when it
// cannot be read.
std::uint64_t SequenceHeaderPixels(const std::uint8_t* payload, std::size_t size)
{
    BitReader r(std::vector<std::uint8_t>(payload, payload + size));
    r.bits(3);  // profile
    r.bits(1);  // still picture
    if (r.bits(1) != 0) {  // reduced still picture header
        r.bits(5);
    } else {
        bool decoderModel = false;
        int delayBits = 0;
        if (r.bits(1) != 0) {  // timing info
            r.bits(64);
            if (r.bits(1) != 0) {  // equal picture interval: uvlc
                int zeros = 0;
                while (r.ok() && r.bits(1) == 0)
                    if (++zeros >= 32) return 0;
                r.bits(zeros);
            }
            decoderModel = r.bits(1) != 0;
            if (decoderModel) {
                delayBits = static_cast<int>(r.bits(5)) + 1;
                r.bits(32 + 5 + 5);
            }
        }
        const bool displayDelay = r.bits(1) != 0;
        const int points = static_cast<int>(r.bits(5)) + 1;
        for (int i = 0; i < points && r.ok(); ++i) {
            r.bits(12);  // operating point
            if (r.bits(5) > 7) r.bits(1);  // level, tier
            if (decoderModel && r.bits(1) != 0) r.bits(2 * delayBits + 1);
            if (displayDelay && r.bits(1) != 0) r.bits(4);
        }
    }
    const int widthBits = static_cast<int>(r.bits(4)) + 1, heightBits = static_cast<int>(r.bits(4)) + 1;
    const std::uint64_t width = r.bits(widthBits) + 1, height = r.bits(heightBits) + 1;
    return r.ok() ? width * height : 0;
}

// The largest frame the sequence headers among the AV1 units at `data` allow.
std::uint64_t LargestAv1Frame(const std::uint8_t* data, std::size_t size)
{
    constexpr int SequenceHeader = 1;
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t header = data[at++];
        if (header & 0x04) ++at;  // extension
        std::uint64_t length = size - std::min(at, size);
        if (header & 0x02) {  // a size field, LEB128
            length = 0;
            for (int i = 0; i < 8 && at < size; ++i) {
                const std::uint8_t byte = data[at++];
                length |= std::uint64_t(byte & 0x7F) << (7 * i);
                if (!(byte & 0x80)) break;
            }
        }
        if (at > size || length > size - at) break;
        if ((header >> 3 & 0x0F) == SequenceHeader)
            largest = std::max(largest, SequenceHeaderPixels(data + at, static_cast<std::size_t>(length)));
        at += static_cast<std::size_t>(length);
    }
    return largest;
}

}  // namespace

std::uint64_t LargestHevcPicture(const std::vector<std::uint8_t>& bytes, const HeifItems& items)
{
    constexpr std::size_t ArraysAt = 22;  // after the fixed configuration fields
    constexpr int SpsType = 33;
    std::uint64_t largest = 0;
    for (const HeifItems::Configuration& c : items.configurations) {
        if (c.type != "hvcC" || c.size <= ArraysAt) continue;
        const std::uint8_t* box = bytes.data() + c.start;
        std::size_t p = ArraysAt;
        const int arrays = box[p++];
        for (int a = 0; a < arrays && p + 3 <= c.size; ++a) {
            const int type = box[p] & 0x3F;
            const int count = BigEndian16(box + p + 1);
            p += 3;
            for (int n = 0; n < count && p + 2 <= c.size; ++n) {
                const std::size_t length = BigEndian16(box + p);
                p += 2;
                if (length > c.size - p) break;
                if (type == SpsType) largest = std::max(largest, SpsPixels(box + p, length));
                p += length;
            }
        }
    }
    return largest;
}

std::uint64_t LargestAv1Picture(const std::vector<std::uint8_t>& bytes, const HeifItems& items)
{
    constexpr std::size_t ConfigurationBytes = 4;  // before the configuration's own units
    std::uint64_t largest = 0;
    for (const HeifItems::Configuration& c : items.configurations)
        if (c.type == "av1C" && c.size > ConfigurationBytes)
            largest = std::max(largest, LargestAv1Frame(bytes.data() + c.start + ConfigurationBytes, c.size - ConfigurationBytes));
    const std::uint64_t size = bytes.size();
    for (const auto& [item, extents] : items.data)
        for (const HeifItems::Extent& e : extents) {
            if (e.start >= size) continue;
            // A length of 0 runs to the end of the file.
            const std::uint64_t n = e.length == 0 ? size - e.start : std::min(e.length, size - e.start);
            largest = std::max(largest, LargestAv1Frame(bytes.data() + e.start, static_cast<std::size_t>(n)));
        }
    return largest;
}

}  // namespace pictavo
