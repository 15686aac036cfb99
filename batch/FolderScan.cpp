#include "batch/FolderScan.h"

#include "base/Errors.h"
#include "batch/RunRecord.h"
#include "codecs/PictureFormats.h"

#include <algorithm>
#include <filesystem>

namespace pictavo {
namespace {

bool Matches(const std::string& name, InputFormat format)
{
    const PictureKind* kind = KindOfFormat(format);
    return kind ? KindOfName(name, true) == kind : KindOfName(name) != nullptr;
}

}  // namespace

const PictureKind* KindOfFormat(InputFormat format)
{
    switch (format) {
    case InputFormat::Jpeg: return &JpegKind();
    case InputFormat::Bitmap: return &BitmapKind();
    case InputFormat::Auto: break;
    }
    return nullptr;
}

void RaiseUnreadableFolder(const std::string& folder, const std::string& reason)
{
    EStreamError error("Cannot read folder " + folder);
    error.setPath(folder).setHeadline("Cannot read folder").setDetail(reason);
    throw error;
}

bool ListOrder(const std::string& a, const std::string& b)
{
    // Letters compare as capitals, as the Windows file system orders names,
    // so "_" sorts after the letters.
    const auto upper = [](char c) { return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c); };
    const auto less = [&](char x, char y) { return upper(x) < upper(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less)) return false;
    return a < b;
}

void ScanFolder(BatchModel& model, const std::string& chosenFile)
{
    const std::size_t slash = chosenFile.rfind('/');
    // The window lists what it can: a folder it cannot read lists nothing.
    try {
        ScanFolderPath(model, Trim(slash == std::string::npos ? std::string() : chosenFile.substr(0, slash + 1)));
    } catch (const EStreamError&) {
    }
}

void ScanFolderPath(BatchModel& model, std::string folder)
{
    if (folder.empty()) folder = "./";
    if (folder.back() != '/') folder += '/';
    model.imageFolder = folder;
    model.names.clear();

    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (Matches(name, model.format) && it->is_regular_file(typeError)) model.names.push_back(name);
    }
    if (ec) model.names.clear();
    else DropEarlierOutputs(folder, model.names);
    std::sort(model.names.begin(), model.names.end(), ListOrder);
    // A folder that cannot be listed is not an empty one: say why.
    if (ec) RaiseUnreadableFolder(folder, ec.message());
}

}  // namespace pictavo
