#include "base/Errors.h"

namespace pictavo {

std::string DisplayMessage(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

}  // namespace pictavo
