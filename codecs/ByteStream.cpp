#include "codecs/ByteStream.h"

#include "base/Errors.h"

#include <cstring>

namespace pictavo {

void ByteStream::readExactly(void* target, std::size_t count)
{
    if (count > remaining()) throw EReadError();
    if (count != 0) std::memcpy(target, data_ + position_, count);
    position_ += count;
}

void ByteStream::skip(std::size_t count)
{
    if (count > remaining()) throw EReadError();
    position_ += count;
}

}  // namespace pictavo
