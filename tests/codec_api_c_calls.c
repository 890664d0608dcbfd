/* Calls as a C program may make them: C lets any int stand for an enum, so
 * the library must refuse numbers that name no format. C++ may not even form
 * such a value, hence this file. */
#include <plix/codec.h>

#include "codec_api_c_calls.h"

int CallDecodeWithFormat(const void *data, size_t size, int format, void *pixels, size_t stride) {
    return plix_decode(data, size, NULL, (plix_format)format, pixels, stride, NULL);
}

int CallEncodeWithFormat(const void *pixels, uint32_t width, uint32_t height, size_t stride,
                         int format, void **data, size_t *size) {
    return plix_encode(pixels, width, height, stride, (plix_format)format, NULL, data, size);
}

int CallReadRowsWithFormat(plix_decoder *decoder, int format, void *pixels, size_t stride,
                           uint32_t *rows) {
    return plix_decoder_read_rows(decoder, (plix_format)format, pixels, stride, 1, rows);
}

int CallWriteRowsWithFormat(plix_encoder *encoder, int format, const void *pixels, size_t stride) {
    return plix_encoder_write_rows(encoder, pixels, stride, (plix_format)format, 1);
}
