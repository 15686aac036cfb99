#include "batch/InputList.h"

#include "base/Errors.h"
#include "batch/FolderScan.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace pictavo {
namespace {

namespace fs = std::filesystem;
using Identity = std::pair<dev_t, ino_t>;

bool IdentityOf(const std::string& path, Identity& id)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    id = {info.st_dev, info.st_ino};
    return true;
}

// Appends the pictures of root + relative and of its sub-folders to `names`.
void ScanInto(BatchModel& model, const std::string& root, const std::string& relative, std::set<Identity>& seen,
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
        Identity id;
        // A folder met twice (a bind mount, the output folder) is not listed again.
        if (IdentityOf(folder + sub, id) && seen.insert(id).second)
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
    std::set<Identity> seen;
    Identity id;
    if (!skip.empty() && IdentityOf(skip, id)) seen.insert(id);
    if (IdentityOf(folder, id)) seen.insert(id);
    std::vector<std::string> names;
    ScanInto(model, folder, "", seen, names);
    model.imageFolder = folder;
    model.names = std::move(names);
    const int n = static_cast<int>(model.names.size());
    if (n > 0) model.resizeEnabled = true;
    model.progressMax = n;
    model.progressPosition = 0;
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
