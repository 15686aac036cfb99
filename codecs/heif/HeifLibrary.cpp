#include "codecs/heif/HeifLibrary.h"

#include "base/Errors.h"

#include <dlfcn.h>
#include <string>

namespace pictavo {
namespace {

HeifLibrary Load(std::string& error)
{
    HeifLibrary library;
    void* handle = ::dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = reason ? reason : "libheif.so.1 cannot be loaded";
        return library;
    }
#define PICTAVO_HEIF_RESOLVE(name)                                                     \
    library.name = reinterpret_cast<decltype(library.name)>(::dlsym(handle, #name)); \
    if (library.name == nullptr) error = "libheif has no " #name;
    PICTAVO_HEIF_FUNCTIONS(PICTAVO_HEIF_RESOLVE)
#undef PICTAVO_HEIF_RESOLVE
    if (error.empty() && library.heif_init(nullptr).code != heif_error_Ok) error = "libheif cannot start";
    return library;  // kept open for the rest of the process
}

}  // namespace

const HeifLibrary& Heif()
{
    static std::string error;
    static const HeifLibrary library = Load(error);
    if (!error.empty()) throw EInvalidGraphic(LibraryErrorText("HEIF", error));
    return library;
}

}  // namespace pictavo
