#include "batch/OutputNames.h"

#include "batch/Model.h"
#include "batch/ResizeError.h"

#include <array>
#include <filesystem>
#include <map>

namespace pictavo {
namespace {

constexpr std::array<const char*, 3> Fields = {"{series}", "{n}", "{stem}"};

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

}  // namespace

std::string NameTemplateError(const std::string& nameTemplate)
{
    for (std::size_t at = nameTemplate.find('{'); at != std::string::npos; at = nameTemplate.find('{', at + 1))
        if (!FieldAt(nameTemplate, at)) {
            const std::size_t end = nameTemplate.find('}', at);
            return "unknown field " + nameTemplate.substr(at, end == std::string::npos ? end : end - at + 1) +
                   " (the fields are {series}, {n} and {stem})";
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
        else name += std::filesystem::path(input).filename().stem().string();
        at += f.size();
    }
    return name + "." + extension;
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
                                     const std::string& extension)
{
    const std::string trimmed = Trim(series);
    if (nameTemplate.find("{series}") != std::string::npos) CheckSeries(trimmed);
    std::vector<std::string> outputs;
    std::map<std::string, int> numbers;        // the next index in each folder
    std::map<std::string, std::size_t> owner;  // output -> the input it came from
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string folder = mirrorFolders ? FolderOf(inputs[i]) : std::string();
        const std::string name = ExpandName(nameTemplate, trimmed, numbers[folder]++, inputs[i], extension);
        if (name.find_first_of(Separators) != std::string::npos)
            throw ResizeError("The output name \"" + name + "\" of " + inputs[i] +
                                  " must not contain / or \\: outputs are written into the output folder",
                              "");
        if (name == "." + extension) throw ResizeError("The name template gives " + inputs[i] + " an empty name", "");
        const auto [it, fresh] = owner.emplace(folder + name, i);
        if (!fresh)
            throw ResizeError(inputs[it->second] + " and " + inputs[i] + " would both be written as " + folder +
                                  name + ". Nothing was written; put {n} in the name template.",
                              "");
        outputs.push_back(folder + name);
    }
    return outputs;
}

}  // namespace pictavo
