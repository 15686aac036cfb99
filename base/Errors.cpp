#include "base/Errors.h"

#include <cstring>

namespace pictavo {

std::string DisplayMessage(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

std::string LibraryErrorText(const std::string& library, const std::string& message)
{
    return library + " error: " + message;
}

bool TellsOfMemory(const char* message)
{
    return std::strstr(message, "emory") != nullptr;  // "Out of memory", "Memory allocation failed", ...
}

void RaiseLibraryError(const std::string& library, const std::string& message)
{
    if (TellsOfMemory(message.c_str())) throw EOutOfMemory();
    throw EInvalidGraphic(LibraryErrorText(library, message));
}

std::string CommandLineMessage(const std::string& name, const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    std::string text = own ? own->headline() : error.what();
    if (own && !own->detail().empty()) text += ": " + own->detail();
    const std::string& subject = own && !own->path().empty() ? own->path() : name;
    std::string line = subject.empty() ? text : subject + ": " + text;
    // Some libraries' messages run over lines or end in a line break
    // (libheif's); each failure takes one line.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line.erase(line.find_last_not_of(' ') + 1);
    return DisplayMessage(line);
}

}  // namespace pictavo
