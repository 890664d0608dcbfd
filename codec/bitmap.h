// BMP files in and out of the pixel buffer, without the PLIX coding around
// them, so that callers inside the library (and the tests) can reach the
// imported pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct Image;

enum class BitmapImport {
    Ok,          // the image holds the bitmap's image
    CannotOpen,  // the file could not be opened; the image is unchanged
    Refused,     // not a bitmap we read, or damaged; there is no image
};

// Reads an uncompressed or bit-field BMP of 16, 24 or 32 bits per pixel into
// the image (created anew).
BitmapImport ImportBitmap(Image &image, const char *path);

// The same from a BMP file held in memory.
BitmapImport ImportBitmapMemory(Image &image, const void *data, size_t size);

// Writes the image as a 24-bit bottom-up BMP file. False when there
// is no image or the file could not be written completely; an existing file
// of that name is then left as it was.
bool ExportBitmap(const Image &image, const char *path);

}  // namespace plix
