#include "base/Errors.h"

namespace pictavo {

std::string DisplayMessage(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

std::string CommandLineMessage(const std::string& name, const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    std::string text = own ? own->headline() : error.what();
    if (own && !own->detail().empty()) text += ": " + own->detail();
    const std::string& subject = own && !own->path().empty() ? own->path() : name;
    return DisplayMessage(subject.empty() ? text : subject + ": " + text);
}

}  // namespace pictavo
