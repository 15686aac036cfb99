#include "codecs/jpeg/JpegSource.h"

#include "codecs/jpeg/TJPEGImage.h"

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
        header_.progressive = jpeg_.multiScan();
        header_.decodeMemory = jpeg_.decodeMemory();
        header_.decodeCost = jpeg_.decodeCost();
        header_.workFollowsData = true;
        CheckDeclaredMemory(header_);
    }

    const PictureHeader& header() const override { return header_; }

    void readRows(const RowSink& sink) override
    {
        // The run reserved header_.decodeMemory before asking for the rows.
        jpeg_.setReservedMemory(header_.decodeMemory);
        jpeg_.decodeRows(sink);
    }

    DecodeWarnings warnings() const override { return jpeg_.warnings(); }

    // The library's scaled decoding, as small as the minimum allows.
    int decodeSmaller(int minWidth, int minHeight) override
    {
        for (const int factor : {8, 4, 2}) {
            const int w = TJPEGImage::ScaledSide(jpeg_.width(), factor);
            const int h = TJPEGImage::ScaledSide(jpeg_.height(), factor);
            if (w < minWidth || h < minHeight) continue;
            jpeg_.setDecodeScale(factor);
            header_.width = w;
            header_.height = h;
            return factor;
        }
        return 1;
    }

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
