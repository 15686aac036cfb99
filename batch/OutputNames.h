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
// digits), {stem} (the input's name without folder and extension), {w} and
// {h} (the output's width and height).
std::string NameTemplateError(const std::string& nameTemplate);

// One output name: the template's fields filled in, then "." and
// `extension`. {w} and {h} stay marked, to be filled by WithSize once the
// output's size is known.
std::string ExpandName(const std::string& nameTemplate, const std::string& series, int index,
                       const std::string& input, const std::string& extension = "jpg");

// True when `name` still holds {w} or {h}.
bool HasSizeFields(const std::string& name);
// `name` with {w} and {h} filled in.
std::string WithSize(const std::string& name, int width, int height);

// Refuses a series name that would leave the output folder.
void CheckSeries(const std::string& series);

// The output names of `inputs`, numbered in list order. With
// `mirrorFolders` each input's folder is kept in front of its output name
// and numbering starts again in every folder. Before anything is written it
// refuses (ResizeError) a name that would leave its folder or is empty, and
// two inputs given the same output, and with several `sizes` a template
// without {w} or {h}. The message names the inputs; the error's input() is
// empty, as nothing was read. Names keep {w} and {h} marked (see WithSize).
std::vector<std::string> NameOutputs(const std::string& nameTemplate, const std::string& series,
                                     const std::vector<std::string>& inputs, bool mirrorFolders,
                                     const std::string& extension = "jpg", int sizes = 1);

}  // namespace pictavo
