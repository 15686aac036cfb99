#include "codecs/Encoders.h"

#include <csetjmp>
#include <cstring>

#include <png.h>

namespace pictavo {
namespace {

struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t>* out = nullptr;
    char reason[200] = "the encoder failed";
    ~Writer() { png_destroy_write_struct(&png, &info); }
};

void OnError(png_structp png, png_const_charp message)
{
    auto* writer = static_cast<Writer*>(png_get_error_ptr(png));
    std::strncpy(writer->reason, message, sizeof writer->reason - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto* writer = static_cast<Writer*>(png_get_io_ptr(png));
    try {
        writer->out->insert(writer->out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void OnFlush(png_structp) {}

// Everything libpng may jump out of, with no C++ object of its own to unwind.
bool WriteRows(Writer& w, const EncoderPicture& picture, const OutputMetadata* metadata, png_bytep* rows,
               png_text* xmp)
{
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_set_write_fn(w.png, &w, OnWrite, OnFlush);
    const bool alpha = picture.hasAlpha();
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (metadata && !metadata->exif.empty())
        png_set_eXIf_1(w.png, w.info, static_cast<png_uint_32>(metadata->exif.size()),
                       reinterpret_cast<png_bytep>(const_cast<char*>(metadata->exif.data())));
    if (xmp) png_set_text(w.png, w.info, xmp, 1);
    png_write_info(w.png, w.info);
    if (!picture.alpha) png_set_bgr(w.png);  // the rows are the picture's own
    png_write_rows(w.png, rows, static_cast<png_uint_32>(picture.height));
    png_write_end(w.png, nullptr);
    return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const EncoderPicture& picture, const EncodeSettings& settings)
{
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
    std::vector<std::uint8_t> rgba;  // a separate alpha plane joins the colour
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 4;
    if (picture.alpha) rgba.resize(rowBytes * static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        png_bytep& row = rows[static_cast<std::size_t>(y)];
        if (picture.alpha) {
            row = rgba.data() + rowBytes * static_cast<std::size_t>(y);
            RowToRgb(picture, y, row, true);
        } else {
            row = const_cast<png_bytep>(picture.pixels + picture.stride * y);  // only read
        }
    }
    std::vector<std::uint8_t> bytes;
    Writer w;
    w.out = &bytes;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, OnError, OnWarning);
    if (w.png) w.info = png_create_info_struct(w.png);
    if (!w.png || !w.info) RaiseEncodeError("PNG", "out of memory");

    const OutputMetadata* metadata = settings.metadata;
    png_text xmp{};
    std::string key = "XML:com.adobe.xmp";
    const bool withXmp = metadata && !metadata->xmp.empty();
    if (withXmp) {
        xmp.compression = PNG_ITXT_COMPRESSION_NONE;
        xmp.key = key.data();
        xmp.text = const_cast<char*>(metadata->xmp.data());
        xmp.itxt_length = metadata->xmp.size();
        xmp.lang = nullptr;
        xmp.lang_key = nullptr;
    }
    if (!WriteRows(w, picture, metadata, rows.data(), withXmp ? &xmp : nullptr)) RaiseEncodeError("PNG", w.reason);
    return bytes;
}

}  // namespace pictavo
