#include "batch/Model.h"

#include "codecs/OutputFormats.h"

namespace pictavo {

TargetSize BatchModel::target() const
{
    return customSize ? *customSize : SizePresets.at(static_cast<std::size_t>(sizeIndex));
}

std::vector<TargetSize> BatchModel::targets() const
{
    std::vector<TargetSize> all{target()};
    all.insert(all.end(), moreSizes.begin(), moreSizes.end());
    return all;
}

int BatchModel::quality() const
{
    return customQuality ? *customQuality : QualityPresets.at(static_cast<std::size_t>(qualityIndex));
}

std::string Trim(const std::string& text)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string SeriesNumber(int index)
{
    std::string number = std::to_string(index + 1);
    if (number.size() < 2) number.insert(number.begin(), '0');
    return number;
}

std::string OutputName(const std::string& series, int index)
{
    return series + SeriesNumber(index) + ".jpg";
}

const OutputFormat& BatchModel::output() const { return outputFormat ? *outputFormat : DefaultOutputFormat(); }

}  // namespace pictavo
