#include "batch/OutputNames.h"

#include "batch/Model.h"
#include "batch/ResizeError.h"

#include <array>
#include <filesystem>
#include <map>

namespace pictavo {
namespace {

constexpr std::array<const char*, 5> Fields = {"{series}", "{n}", "{stem}", "{w}", "{h}"};

// {w} and {h} are known only once a picture's header is read: names keep
// them as a NUL and a letter, which no file name or template can hold.
const std::string WidthMark("\0w", 2), HeightMark("\0h", 2);

const std::string Separators("/\\\0", 3);

// The field that starts at `at`, or nullptr.
const char* FieldAt(const std::string& text, std::size_t at)
{
    for (const char* field : Fields)
        if (text.compare(at, std::char_traits<char>::length(field), field) == 0) return field;
    return nullptr;
}

std::string FolderOf(const std::string& input)
{
    const std::size_t slash = input.rfind('/');
    return slash == std::string::npos ? std::string() : input.substr(0, slash + 1);
}

// `name` with its marks of {w} and {h} replaced.
std::string Filled(const std::string& name, const std::string& width, const std::string& height)
{
    std::string out;
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (name[at] != '\0' || at + 1 == name.size()) {
            out += name[at];
            continue;
        }
        out += name[at + 1] == 'w' ? width : height;
        ++at;
    }
    return out;
}

// A name as messages show it: its size fields as the template spelled them.
std::string Shown(const std::string& name)
{
    return Filled(name, "{w}", "{h}");
}

}  // namespace

std::string NameTemplateError(const std::string& nameTemplate)
{
    for (std::size_t at = nameTemplate.find('{'); at != std::string::npos; at = nameTemplate.find('{', at + 1))
        if (!FieldAt(nameTemplate, at)) {
            const std::size_t end = nameTemplate.find('}', at);
            return "unknown field " + nameTemplate.substr(at, end == std::string::npos ? end : end - at + 1) +
                   " (the fields are {series}, {n}, {stem}, {w} and {h})";
        }
    return "";
}

std::string ExpandName(const std::string& nameTemplate, const std::string& series, int index,
                       const std::string& input, const std::string& extension)
{
    std::string name;
    for (std::size_t at = 0; at < nameTemplate.size();) {
        const char* field = nameTemplate[at] == '{' ? FieldAt(nameTemplate, at) : nullptr;
        if (!field) {
            name += nameTemplate[at++];
            continue;
        }
        const std::string_view f(field);
        if (f == "{series}") name += series;
        else if (f == "{n}") name += SeriesNumber(index);
        else if (f == "{w}") name += WidthMark;
        else if (f == "{h}") name += HeightMark;
        else name += std::filesystem::path(input).filename().stem().string();
        at += f.size();
    }
    return name + "." + extension;
}

bool HasSizeFields(const std::string& name)
{
    return name.find('\0') != std::string::npos;
}

std::string WithSize(const std::string& name, int width, int height)
{
    return Filled(name, std::to_string(width), std::to_string(height));
}

void CheckSeries(const std::string& series)
{
    if (series.find_first_of(Separators) != std::string::npos)
        throw ResizeError("The series name \"" + series + "\" must not contain / or \\: outputs are written "
                          "into the folder of the pictures",
                          "");
}

std::vector<std::string> NameOutputs(const std::string& nameTemplate, const std::string& series,
                                     const std::vector<std::string>& inputs, bool mirrorFolders,
                                     const std::string& extension, int sizes)
{
    if (sizes > 1 && nameTemplate.find("{w}") == std::string::npos && nameTemplate.find("{h}") == std::string::npos)
        throw ResizeError("The sizes of one picture would all be written as one file. Nothing was written; put {w} "
                          "or {h} in the name template.",
                          "");
    const std::string trimmed = Trim(series);
    if (nameTemplate.find("{series}") != std::string::npos) CheckSeries(trimmed);
    std::vector<std::string> outputs;
    std::map<std::string, int> numbers;        // the next index in each folder
    std::map<std::string, std::size_t> owner;  // output -> the input it came from
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string folder = mirrorFolders ? FolderOf(inputs[i]) : std::string();
        const std::string name = ExpandName(nameTemplate, trimmed, numbers[folder]++, inputs[i], extension);
        if (WithSize(name, 1, 1).find_first_of(Separators) != std::string::npos)
            throw ResizeError("The output name \"" + Shown(name) + "\" of " + inputs[i] +
                                  " must not contain / or \\: outputs are written into the output folder",
                              "");
        if (name == "." + extension) throw ResizeError("The name template gives " + inputs[i] + " an empty name", "");
        const auto [it, fresh] = owner.emplace(folder + name, i);
        if (!fresh)
            throw ResizeError(inputs[it->second] + " and " + inputs[i] + " would both be written as " + folder +
                                  Shown(name) + ". Nothing was written; put {n} in the name template.",
                              "");
        outputs.push_back(folder + name);
    }
    return outputs;
}

}  // namespace pictavo
