#include "batch/InputList.h"

#include "base/Errors.h"
#include "batch/FolderScan.h"
#include "base/Files.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace pictavo {
namespace {

namespace fs = std::filesystem;

// Appends the pictures of root + relative and of its sub-folders to `names`.
void ScanInto(BatchModel& model, const std::string& root, const std::string& relative, std::set<FileIdentity>& seen,
              std::vector<std::string>& names)
{
    const std::string folder = root + relative;
    ScanFolderPath(model, folder);
    for (const std::string& name : model.names) names.push_back(relative + name);

    std::vector<std::string> subfolders;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_symlink(typeError) || !it->is_directory(typeError)) continue;
        subfolders.push_back(it->path().filename().string());
    }
    if (ec) RaiseUnreadableFolder(folder, ec.message());
    std::sort(subfolders.begin(), subfolders.end(), ListOrder);
    for (const std::string& sub : subfolders) {
        // A folder met twice (a bind mount, the output folder) is not listed again.
        const auto id = IdentityOf(folder + sub);
        if (id && seen.insert(*id).second)
            ScanInto(model, root, relative + sub + "/", seen, names);
    }
}

}  // namespace

std::string InputPath(const std::string& folder, const std::string& name)
{
    return !name.empty() && name.front() == '/' ? name : folder + name;
}

void ScanTree(BatchModel& model, std::string folder, const std::string& skip)
{
    if (folder.empty()) folder = "./";
    if (folder.back() != '/') folder += '/';
    std::set<FileIdentity> seen;
    if (const auto id = skip.empty() ? std::nullopt : IdentityOf(skip)) seen.insert(*id);
    if (const auto id = IdentityOf(folder)) seen.insert(*id);
    std::vector<std::string> names;
    ScanInto(model, folder, "", seen, names);
    model.imageFolder = folder;
    model.names = std::move(names);
}

std::vector<std::string> ReadNameList(std::istream& in)
{
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) names.push_back(line);
    }
    return names;
}

std::vector<int> ShardIndices(int count, int shard, int shards)
{
    std::vector<int> indices;
    for (int i = shard - 1; i < count; i += shards) indices.push_back(i);
    return indices;
}

}  // namespace pictavo
