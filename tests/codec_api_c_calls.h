/* libplixcodec called from C with a format given as a plain number. */
#ifndef PLIX_TESTS_CODEC_API_C_CALLS_H
#define PLIX_TESTS_CODEC_API_C_CALLS_H

#include <plix/codec.h>

#ifdef __cplusplus
extern "C" {
#endif

int CallDecodeWithFormat(const void *data, size_t size, int format, void *pixels, size_t stride);
int CallEncodeWithFormat(const void *pixels, uint32_t width, uint32_t height, size_t stride,
                         int format, void **data, size_t *size);
int CallReadRowsWithFormat(plix_decoder *decoder, int format, void *pixels, size_t stride,
                           uint32_t *rows);
int CallWriteRowsWithFormat(plix_encoder *encoder, int format, const void *pixels, size_t stride);

#ifdef __cplusplus
}
#endif

#endif
