// The floor of a resize: every file read whole into memory and decoded
// exactly as the tool decodes it (float IDCT, block smoothing, fancy
// upsampling, blue-green-red rows, eight rows a call), and the rows thrown
// away. One process for all files, as the tool is one process. With
// --jobs N, N threads take the files largest first, as the tool's jobs take
// the costliest pictures first: the floor for a run of N jobs on this
// machine, where two cores share caches and memory bandwidth.
//   decode_floor [--jobs N] FILE...
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace {

bool Decode(const char* path, std::vector<unsigned char>& bytes, std::vector<unsigned char>& lines)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::perror(path);
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    const bool read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    if (!read || bytes.empty()) {
        std::fprintf(stderr, "%s: cannot be read\n", path);
        return false;
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
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1, jobs = 1;
    if (argc > 2 && std::strcmp(argv[1], "--jobs") == 0) {
        jobs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    std::vector<const char*> paths(argv + first, argv + argc);
    if (jobs > 1) {
        std::error_code unknown;
        std::stable_sort(paths.begin(), paths.end(), [&](const char* a, const char* b) {
            return std::filesystem::file_size(a, unknown) > std::filesystem::file_size(b, unknown);
        });
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        std::vector<unsigned char> bytes, lines;
        for (std::size_t k; (k = next++) < paths.size();)
            if (!Decode(paths[k], bytes, lines)) failed = true;
    };
    std::vector<std::thread> others;
    for (int j = 1; j < jobs; ++j) others.emplace_back(work);
    work();
    for (std::thread& t : others) t.join();
    return failed ? 1 : 0;
}
