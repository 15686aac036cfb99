// The floor of a resize: every file decoded exactly as the tool decodes it
// (float IDCT, block smoothing, fancy upsampling, blue-green-red rows, eight
// rows a call) into memory, and the rows thrown away. One process for all
// files, as the tool is one process.
//   decode_floor FILE...
#include <cstdio>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv)
{
    std::vector<unsigned char> lines;
    for (int f = 1; f < argc; ++f) {
        FILE* file = std::fopen(argv[f], "rb");
        if (!file) {
            std::perror(argv[f]);
            return 1;
        }
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr errors{};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.dct_method = JDCT_FLOAT;
        cinfo.do_block_smoothing = TRUE;
        cinfo.do_fancy_upsampling = TRUE;
        cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        const std::size_t stride = std::size_t(cinfo.output_width) * cinfo.output_components;
        lines.resize(stride * 8);
        JSAMPROW rows[8];
        for (int k = 0; k < 8; ++k) rows[k] = lines.data() + k * stride;
        while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 8);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
    }
    return 0;
}
