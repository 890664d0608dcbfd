// The package's JavaScript (web/package/plix-codec.js) reads and writes these
// structures by byte offset; the module does not build if they move.
#include <cstddef>

#include "plix/codec.h"

static_assert(sizeof(void *) == 4 && sizeof(size_t) == 4);
static_assert(offsetof(plix_info, width) == 0 && offsetof(plix_info, height) == 4);
static_assert(offsetof(plix_info, mode) == 8 && offsetof(plix_info, matrix) == 12);
static_assert(offsetof(plix_info, qfactor) == 16 && offsetof(plix_info, blocks) == 24);
static_assert(offsetof(plix_info, blocks_present) == 32 && sizeof(plix_info) == 40);
static_assert(offsetof(plix_decode_options, max_pixels) == 0);
static_assert(offsetof(plix_decode_options, threads) == 8 && sizeof(plix_decode_options) == 16);
static_assert(offsetof(plix_encode_options, mode) == 0 && offsetof(plix_encode_options, qfactor) == 4);
static_assert(offsetof(plix_encode_options, matrix) == 8 && offsetof(plix_encode_options, threads) == 12);
static_assert(sizeof(plix_encode_options) == 16);
static_assert(PLIX_RGBA == 1);
