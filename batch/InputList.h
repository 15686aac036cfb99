// Lists of inputs beyond one folder: a whole tree, a list file, one shard.
#pragma once

#include "batch/Model.h"

#include <istream>
#include <string>
#include <vector>

namespace pictavo {

// Where a listed name is read from: inside `folder` (ending in '/'), or the
// name itself when it is absolute.
std::string InputPath(const std::string& folder, const std::string& name);

// Lists `folder` as ScanFolderPath does, then each of its sub-folders in
// list order, depth first: names relative to `folder` ("a/b/x.jpg").
// Symbolic links to folders are not followed, and the folder `skip` (the
// output folder, when it lies inside) is left out, so a second run does not
// take the first one's outputs for pictures.
void ScanTree(BatchModel& model, std::string folder, const std::string& skip);

// The names of a list file, one a line; blank lines are skipped and a
// carriage return before the line's end is dropped.
std::vector<std::string> ReadNameList(std::istream& in);

// Shard `shard` (1-based) of `shards`: every shards-th of `count` indices,
// starting at shard - 1.
std::vector<int> ShardIndices(int count, int shard, int shards);

}  // namespace pictavo
