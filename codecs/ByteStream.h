// A read position over bytes held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

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
