#include "batch/Model.h"

namespace pictavo {

TargetSize BatchModel::target() const
{
    return customSize ? *customSize : SizePresets.at(static_cast<std::size_t>(sizeIndex));
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
    const int number = index + 1;
    return (number < 10 ? "0" : "") + std::to_string(number);
}

std::string OutputName(const std::string& series, int index)
{
    return series + SeriesNumber(index) + ".jpg";
}

}  // namespace pictavo
