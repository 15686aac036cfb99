#include "codecs/EncoderLibraries.h"

#include "codecs/OutputFormats.h"

#include <dlfcn.h>
#include <string>

namespace pictavo {
namespace {

void* Open(const char* soname, std::string& error)
{
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = reason ? reason : std::string(soname) + " cannot be loaded";
    }
    return handle;  // kept open for the rest of the process
}

#define PICTAVO_LIBRARY_RESOLVE(name)                                                  \
    library.name = reinterpret_cast<decltype(library.name)>(::dlsym(handle, #name)); \
    if (library.name == nullptr && error.empty()) error = std::string("no ") + #name + " in the library";

AvifLibrary LoadAvif(std::string& error)
{
    AvifLibrary library;
    if (void* handle = Open("libavif.so.15", error)) {
        PICTAVO_AVIF_FUNCTIONS(PICTAVO_LIBRARY_RESOLVE)
    }
    return library;
}

JxlLibrary LoadJxl(std::string& error)
{
    JxlLibrary library;
    if (void* handle = Open("libjxl.so.0.7", error)) {
        PICTAVO_JXL_FUNCTIONS(PICTAVO_LIBRARY_RESOLVE)
    }
    return library;
}

#undef PICTAVO_LIBRARY_RESOLVE

}  // namespace

const AvifLibrary& Avif()
{
    static std::string error;
    static const AvifLibrary library = LoadAvif(error);
    if (!error.empty()) RaiseEncodeError("AVIF", error);
    return library;
}

const JxlLibrary& Jxl()
{
    static std::string error;
    static const JxlLibrary library = LoadJxl(error);
    if (!error.empty()) RaiseEncodeError("JPEG XL", error);
    return library;
}

}  // namespace pictavo
