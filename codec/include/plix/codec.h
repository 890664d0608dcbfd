/* PLIX codec: the interface of libplixcodec.so.1 (plixcodec.dll on Windows).
 *
 * Pictures go straight between the caller's buffers and PLIX bytes in memory:
 * four pixel formats, any row pitch, a pixel limit checked before anything is
 * allocated, and decoders and encoders that work a strip of 8 rows at a time
 * for callers that get their bytes in pieces or cannot hold the picture.
 *
 * The pixels and bytes are exactly those of libPLIX.so's operations for the
 * same input, whatever the options. Nothing is printed, nothing is thrown,
 * and no state is shared between calls but constant tables built once; an
 * incremental decoder or encoder is used by one thread at a time, separate
 * ones on separate threads at once.
 *
 * Link with pkg-config --libs plixcodec, or CMake's PLIX::plixcodec.
 */
#ifndef PLIX_CODEC_H
#define PLIX_CODEC_H

#include <stddef.h>
#include <stdint.h>

#include <plix/plix_version.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Windows: plixcodec.dll's exports are named in codec/plixcodec.def. */
#if defined(_WIN32)
#define PLIX_API
#elif defined(__GNUC__)
#define PLIX_API __attribute__((visibility("default")))
#else
#define PLIX_API
#endif

/* Bytes of each pixel in the caller's buffers, in memory order. Alpha is
 * written as 255 and ignored when read. */
typedef enum plix_format { PLIX_RGB = 0, PLIX_RGBA = 1, PLIX_BGR = 2, PLIX_BGRA = 3 } plix_format;

typedef struct plix_info {
    uint32_t width, height;
    uint32_t mode, matrix, qfactor; /* from the header: mode 0 YUV, 1 RGB (any
                                       byte but 0 reads 1); q-factor as stored */
    uint64_t blocks;                /* component blocks of the picture: 3 x block positions */
    uint64_t blocks_present;        /* whole component blocks the data holds (set by a decode) */
} plix_info;

typedef struct plix_decode_options {
    uint64_t max_pixels; /* width x height above it is refused before anything is allocated;
                            0 means 2^28 */
    uint32_t threads;    /* 0 or 1: the caller's thread only; N: at most N threads */
} plix_decode_options;

/* Settings, by the names the classic interface gives them. */
#ifndef PLIX_MODE_YUV
#define PLIX_MODE_YUV 0
#define PLIX_MODE_RGB 1
#define PLIX_MATRIX_PLIX 0
#define PLIX_MATRIX_JPEG 1
#define PLIX_MATRIX_CG 2
#endif

typedef struct plix_encode_options {
    uint32_t mode, qfactor, matrix; /* mode 0 YUV or 1 RGB; q-factor 0 (finest) to 15;
                                       matrix set 0 PLIX, 1 JPEG, 2 CG */
    uint32_t threads;
} plix_encode_options;

#define PLIX_OK 0
#define PLIX_TRUNCATED 1 /* pixels written; the data ended early (the filler rule) */
#define PLIX_NEED_DATA                                             \
    2 /* incremental decoder: no row is ready until more bytes are \
         pushed or the input is finished */
#define PLIX_ERROR_ARGUMENT                                       \
    (-1) /* null pointer, stride too small, setting out of range, \
            unknown format, call out of order */
#define PLIX_ERROR_NOT_PLIX                                                                \
    (-2)                      /* shorter than the header, wrong magic, matrix set above 2, \
                                 a negative size */
#define PLIX_ERROR_LIMIT (-3) /* larger than max_pixels */
#define PLIX_ERROR_MEMORY (-4)
#define PLIX_ERROR_WRITE (-5) /* the encoder's output function reported a failure */

/* The library's release, as PLIX_VERSION_NUMBER gives it for the header. */
PLIX_API uint32_t plix_version(void);

/* The header's facts and blocks; blocks_present is left at 0. Reads 16 bytes
 * at most. */
PLIX_API int plix_read_info(const void *data, size_t size, plix_info *info);

/* The header's facts, and the whole blocks the data holds, found by walking
 * the codes without decoding pixels or allocating: PLIX_OK when every block
 * is there, PLIX_TRUNCATED when the data ends early. Stops where the data
 * ends, so its time follows the data's size, not the declared one. */
PLIX_API int plix_scan(const void *data, size_t size, plix_info *info);

/* Decodes a whole PLIX file held in memory: width x height pixels in format,
 * row y at pixels + y * stride. The bytes after each row's pixels are left
 * alone. options and info may be null. Returns PLIX_OK, PLIX_TRUNCATED or an
 * error; info receives the header's facts as soon as they are known. */
PLIX_API int plix_decode(const void *data, size_t size, const plix_decode_options *options,
                         plix_format format, void *pixels, size_t stride, plix_info *info);

/* Encodes width x height pixels (alpha ignored) into a new buffer, *data of
 * *size bytes, to be freed with plix_free. options may be null: YUV, q-factor
 * 0, matrix set 0. */
PLIX_API int plix_encode(const void *pixels, uint32_t width, uint32_t height, size_t stride,
                         plix_format format, const plix_encode_options *options, void **data,
                         size_t *size);

PLIX_API void plix_free(void *data);

/* A short English sentence for a result code; never null. */
PLIX_API const char *plix_error_string(int result);

/* ---- Rows as they arrive: the incremental decoder ----
 *
 *   plix_decoder *d = plix_decoder_new(NULL);
 *   while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
 *       if (plix_decoder_push(d, buf, n) < 0) break;
 *       while ((r = plix_decoder_read_rows(d, PLIX_RGB, rows, stride, 8, &got)) >= 0 && got)
 *           use(rows, got);
 *   }
 *   plix_decoder_finish(d);
 *   while ((r = plix_decoder_read_rows(d, PLIX_RGB, rows, stride, 8, &got)) >= 0 && got)
 *       use(rows, got);
 *   // r: PLIX_OK, PLIX_TRUNCATED or an error
 *   plix_decoder_free(d);
 *
 * Rows become ready a strip of 8 at a time, as soon as the bytes its blocks
 * may need are in (or once the input is finished). The decoder keeps a strip
 * of pixels and the bytes not yet decoded, never the picture. With threads
 * in the options, strips of pictures of a megapixel or more are decoded a
 * megapixel or two at a time on the threads, once about twice the bytes they
 * should take are in: straight into the caller's rows when max_rows takes
 * that many, else into a window the decoder keeps. Pushing the same bytes in
 * any pieces gives the same rows and result as plix_decode, on any number
 * of threads. */
typedef struct plix_decoder plix_decoder;

/* Null when memory is short. options may be null (the defaults). */
PLIX_API plix_decoder *plix_decoder_new(const plix_decode_options *options);
PLIX_API void plix_decoder_free(plix_decoder *decoder);

/* Takes the next size bytes of the file (copied as needed). The header is
 * checked as soon as it is in, the limit included. Returns PLIX_OK or the
 * error that stopped the decoder; after an error, every call returns it. */
PLIX_API int plix_decoder_push(plix_decoder *decoder, const void *data, size_t size);

/* No more bytes follow: the blocks past them decode with the filler rule.
 * PLIX_ERROR_NOT_PLIX when the header never came. */
PLIX_API int plix_decoder_finish(plix_decoder *decoder);

/* PLIX_OK once the header is in, with its facts, and blocks_present so far;
 * PLIX_NEED_DATA before. */
PLIX_API int plix_decoder_info(const plix_decoder *decoder, plix_info *info);

/* Writes the next ready rows, at most max_rows, from the top down: the first
 * at pixels, then stride bytes apart; *rows receives their number. Returns
 * PLIX_NEED_DATA (no row written) while more bytes are needed; otherwise
 * PLIX_OK, or PLIX_TRUNCATED once the data is known to end early. After the
 * last row, every call writes none and returns the final result. */
PLIX_API int plix_decoder_read_rows(plix_decoder *decoder, plix_format format, void *pixels,
                                    size_t stride, uint32_t max_rows, uint32_t *rows);

/* ---- Rows in, bytes out: the incremental encoder ----
 *
 * The output function receives the file's bytes in order, in pieces of up to
 * 64 KiB, as strips are coded; it returns 0 to go on, anything else to stop
 * the encoder with PLIX_ERROR_WRITE. The encoder keeps one strip of pixels. */
typedef int (*plix_write_fn)(void *user, const void *data, size_t size);
typedef struct plix_encoder plix_encoder;

/* Writes the header at once. options may be null. On success *encoder is
 * the new encoder; on failure it is null. */
PLIX_API int plix_encoder_new(uint32_t width, uint32_t height, const plix_encode_options *options,
                              plix_write_fn write, void *user, plix_encoder **encoder);

/* The next rows of the picture from the top down, any number at a time. */
PLIX_API int plix_encoder_write_rows(plix_encoder *encoder, const void *pixels, size_t stride,
                                     plix_format format, uint32_t rows);

/* After the last row: codes what is left and hands out the last bytes.
 * PLIX_ERROR_ARGUMENT while rows are missing. */
PLIX_API int plix_encoder_finish(plix_encoder *encoder);
PLIX_API void plix_encoder_free(plix_encoder *encoder);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* PLIX_CODEC_H */
