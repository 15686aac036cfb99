// libavif and libjxl bring the AV1 encoders and their helpers with them
// (aom, SVT-AV1, rav1e, dav1d, highway, brotli), whose loading would cost
// every start of the program several milliseconds. They are opened the
// first time an AVIF or JPEG XL output is written.
#pragma once

#include <avif/avif.h>
#include <jxl/encode.h>

namespace pictavo {

#define PICTAVO_AVIF_FUNCTIONS(X)                                                                              \
    X(avifImageCreate) X(avifImageDestroy) X(avifRGBImageSetDefaults) X(avifImageRGBToYUV)                    \
    X(avifImageSetMetadataExif) X(avifImageSetMetadataXMP) X(avifEncoderCreate) X(avifEncoderDestroy)         \
    X(avifEncoderWrite) X(avifEncoderSetCodecSpecificOption) X(avifRWDataFree) X(avifResultToString) X(avifCodecChoiceFromName)

#define PICTAVO_JXL_FUNCTIONS(X)                                                                               \
    X(JxlEncoderCreate) X(JxlEncoderDestroy) X(JxlEncoderGetError) X(JxlEncoderUseBoxes) X(JxlEncoderAddBox)  \
    X(JxlEncoderCloseBoxes) X(JxlEncoderInitBasicInfo) X(JxlEncoderSetBasicInfo) X(JxlColorEncodingSetToSRGB) \
    X(JxlEncoderSetColorEncoding) X(JxlEncoderFrameSettingsCreate) X(JxlEncoderFrameSettingsSetOption)        \
    X(JxlEncoderSetFrameDistance) X(JxlEncoderAddImageFrame) X(JxlEncoderCloseInput) X(JxlEncoderProcessOutput)

#define PICTAVO_LIBRARY_MEMBER(name) decltype(&::name) name = nullptr;
struct AvifLibrary {
    PICTAVO_AVIF_FUNCTIONS(PICTAVO_LIBRARY_MEMBER)
};
struct JxlLibrary {
    PICTAVO_JXL_FUNCTIONS(PICTAVO_LIBRARY_MEMBER)
};
#undef PICTAVO_LIBRARY_MEMBER

// Opened once; "Cannot write AVIF" ("... JPEG XL") with the loader's reason
// when the library cannot be loaded.
const AvifLibrary& Avif();
const JxlLibrary& Jxl();

}  // namespace pictavo
