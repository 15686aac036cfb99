// How outputs are named: a template of fields, always followed by the
// output format's extension, whatever the template says (and so no name
// can be "." or "..").
#pragma once

#include <string>
#include <vector>

namespace pictavo {

// Gives today's names: RurOdi01.jpg, RurOdi02.jpg, ...
inline constexpr const char* DefaultNameTemplate = "{series}{n}";

// Empty when `nameTemplate` is usable, else what is wrong with it. Fields:
// {series} (the trimmed series name), {n} (the number, at least two
// digits), {stem} (the input's name without folder and extension).
std::string NameTemplateError(const std::string& nameTemplate);

// One output name: the template's fields filled in, then "." and
// `extension`.
std::string ExpandName(const std::string& nameTemplate, const std::string& series, int index,
                       const std::string& input, const std::string& extension = "jpg");

// Refuses a series name that would leave the output folder.
void CheckSeries(const std::string& series);

// The output names of `inputs`, numbered in list order. With
// `mirrorFolders` each input's folder is kept in front of its output name
// and numbering starts again in every folder. Before anything is written it
// refuses (ResizeError) a name that would leave its folder or is empty, and
// two inputs given the same output. The message names the inputs; the
// error's input() is empty, as nothing was read.
std::vector<std::string> NameOutputs(const std::string& nameTemplate, const std::string& series,
                                     const std::vector<std::string>& inputs, bool mirrorFolders,
                                     const std::string& extension = "jpg");

}  // namespace pictavo
