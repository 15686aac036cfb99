// Whole-file reads and all-or-nothing writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pictavo {

// The file's bytes. "Cannot open file <shownName>" when it cannot be opened
// or is not a regular file; "Stream read error" when reading fails.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName);

// Writes `bytes` to a new file beside `path` and renames it over `path` once
// complete, so a failure never leaves a damaged or partial file and keeps an
// existing one untouched. "Cannot create file <shownName>" when the file
// cannot be made; "Stream write error" when the write fails.
void WriteFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                         const std::string& shownName);

}  // namespace pictavo
