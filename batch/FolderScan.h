// Building the list of inputs from the folder of a chosen file.
#pragma once

#include "batch/Model.h"
#include "codecs/PictureFormats.h"

#include <string>

namespace pictavo {

// The folder of `chosenFile` (its full path) becomes imageFolder; the list
// is filled from that folder (ScanFolderPath); one that cannot be listed
// gives an empty list.
void ScanFolder(BatchModel& model, const std::string& chosenFile);

// The kind a format takes by name alone (its classic extensions); none
// for Auto, which takes every extension of every kind.
const PictureKind* KindOfFormat(InputFormat format);

// Lists the regular files of `folder` whose extension fits the format
// (KindOfFormat, in any letter case) but the earlier
// outputs its record names (DropEarlierOutputs), sorted without regard
// to letter case; enables Resize when it found any, hides "Ok!" and resets
// the progress bar to 0 of the count. A folder that cannot be listed ends
// with an empty list and "Cannot read folder <folder>" with the reason.
void ScanFolderPath(BatchModel& model, std::string folder);

// "Cannot read folder <folder>", the command line adding `reason`.
[[noreturn]] void RaiseUnreadableFolder(const std::string& folder, const std::string& reason);

// The order in which the list shows names: ASCII letters compared as
// capitals, ties in byte order.
bool ListOrder(const std::string& a, const std::string& b);

}  // namespace pictavo
