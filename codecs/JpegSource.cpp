#include "codecs/JpegSource.h"

#include "codecs/TJPEGImage.h"

namespace pictavo {
namespace {

class JpegSource : public PictureSource {
public:
    JpegSource(const std::string& path, const std::string& shownName)
    {
        jpeg_.streamFromFile(path, shownName);
        header_.width = jpeg_.width();
        header_.height = jpeg_.height();
        header_.orientation = jpeg_.orientation();
        header_.gray = jpeg_.gray();
        header_.iccProfile = jpeg_.iccProfile();
        header_.progressive = jpeg_.progressiveOutput();
        header_.decodeMemory = jpeg_.decodeMemory();
        header_.decodeCost = jpeg_.decodeCost();
        header_.workFollowsData = true;
    }

    const PictureHeader& header() const override { return header_; }

    void readRows(const RowSink& sink) override
    {
        jpeg_.setDecodeMemoryLimit(header_.decodeMemory);
        jpeg_.decodeRows(sink);
    }

    DecodeWarnings warnings() const override { return jpeg_.warnings(); }

private:
    TJPEGImage jpeg_;
    PictureHeader header_;
};

}  // namespace

std::unique_ptr<PictureSource> OpenJpegSource(const std::string& path, const std::string& shownName)
{
    return std::make_unique<JpegSource>(path, shownName);
}

}  // namespace pictavo
