// The floor of a resize: every file read whole into memory and decoded
// exactly as the tool decodes it (float IDCT, block smoothing, fancy
// upsampling, blue-green-red rows, eight rows a call), and the rows thrown
// away. One process for all files, as the tool is one process.
//   decode_floor FILE...
#include <cstdio>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv)
{
    std::vector<unsigned char> lines, bytes;
    for (int f = 1; f < argc; ++f) {
        FILE* file = std::fopen(argv[f], "rb");
        if (!file) {
            std::perror(argv[f]);
            return 1;
        }
        std::fseek(file, 0, SEEK_END);
        bytes.resize(static_cast<std::size_t>(std::ftell(file)));
        std::rewind(file);
        const bool read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
        std::fclose(file);
        if (!read || bytes.empty()) {
            std::fprintf(stderr, "%s: cannot be read\n", argv[f]);
            return 1;
        }
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr errors{};
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
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
    }
    return 0;
}
