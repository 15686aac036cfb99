// JPEG files as the resize pipeline reads them: streamed from the file, the
// rows handed on as the library produces them.
#pragma once

#include "codecs/PictureSource.h"

#include <memory>
#include <string>

namespace pictavo {

// Opens `path` and reads its header. Errors name the file as `shownName`.
std::unique_ptr<PictureSource> OpenJpegSource(const std::string& path, const std::string& shownName);

}  // namespace pictavo
