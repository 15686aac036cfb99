// libheif brings the HEVC and AV1 codecs with it (x265, aom, dav1d, de265),
// whose loading costs every start of the program several milliseconds. It
// is opened the first time a HEIF or AVIF file is read, not before.
#pragma once

#include <libheif/heif.h>

namespace pictavo {

#define PICTAVO_HEIF_FUNCTIONS(X)                                                                              \
    X(heif_init) X(heif_context_alloc) X(heif_context_free) X(heif_context_read_from_memory_without_copy)      \
    X(heif_context_get_primary_image_handle) X(heif_image_handle_release) X(heif_image_handle_get_width)       \
    X(heif_image_handle_get_height) X(heif_image_handle_has_alpha_channel)                                    \
    X(heif_image_handle_is_premultiplied_alpha) X(heif_image_handle_get_luma_bits_per_pixel)                  \
    X(heif_image_handle_get_ispe_width) X(heif_image_handle_get_ispe_height)                                  \
    X(heif_image_handle_get_color_profile_type) X(heif_image_handle_get_raw_color_profile_size)               \
    X(heif_image_handle_get_raw_color_profile) X(heif_image_handle_get_nclx_color_profile)                    \
    X(heif_nclx_color_profile_free) X(heif_decoding_options_alloc) X(heif_decoding_options_free)              \
    X(heif_decode_image) X(heif_image_release) X(heif_image_get_plane_readonly)                               \
    X(heif_image_get_bits_per_pixel_range) X(heif_image_get_width) X(heif_image_get_height)                   \
    X(heif_context_set_maximum_image_size_limit) X(heif_context_set_max_decoding_threads)                      \
    X(heif_image_handle_get_number_of_metadata_blocks) X(heif_image_handle_get_list_of_metadata_block_IDs)    \
    X(heif_image_handle_get_metadata_type) X(heif_image_handle_get_metadata_content_type)                     \
    X(heif_image_handle_get_metadata_size) X(heif_image_handle_get_metadata)

// The library's entry points, by their own names.
struct HeifLibrary {
#define PICTAVO_HEIF_MEMBER(name) decltype(&::name) name = nullptr;
    PICTAVO_HEIF_FUNCTIONS(PICTAVO_HEIF_MEMBER)
#undef PICTAVO_HEIF_MEMBER
};

// Opens and initialises the library once; "HEIF error: ..." when it cannot
// be loaded.
const HeifLibrary& Heif();

}  // namespace pictavo
