// A read position over bytes held in memory, and the one place that reads
// multi-byte numbers out of file bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

inline std::uint16_t LittleEndian16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t LittleEndian32(const std::uint8_t* p)
{
    return std::uint32_t(LittleEndian16(p)) | std::uint32_t(LittleEndian16(p + 2)) << 16;
}
inline std::uint16_t BigEndian16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
inline std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(BigEndian16(p)) << 16 | BigEndian16(p + 2);
}
// A big-endian number of `bytes` bytes, as sizes a file declares: 0 to 8
// (of more, the last 8 count).
inline std::uint64_t BigEndianOfSize(const std::uint8_t* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

class ByteStream {
public:
    ByteStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - position_; }
    // Copies `count` bytes or raises "Stream read error" when fewer are left
    // (then nothing is consumed).
    void readExactly(void* target, std::size_t count);
    const std::uint8_t* current() const { return data_ + position_; }
    void skip(std::size_t count);  // "Stream read error" past the end

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace pictavo
