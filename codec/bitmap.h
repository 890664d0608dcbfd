// BMP files in and out of the pixel buffer, without the PLIX coding around
// them, so that callers inside the library (and the tests) can reach the
// imported pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

class Codec;

enum class BitmapImport {
    Ok,          // the codec holds the bitmap's image
    CannotOpen,  // the file could not be opened; the codec is unchanged
    Refused,     // not a bitmap we read, or damaged; the codec has no image
};

// Reads an uncompressed or bit-field BMP of 16, 24 or 32 bits per pixel into
// the codec's pixel buffer (created through the operation table).
BitmapImport ImportBitmap(Codec &codec, const char *path);

// The same from a BMP file held in memory.
BitmapImport ImportBitmapMemory(Codec &codec, const void *data, size_t size);

// Writes the codec's image as a 24-bit bottom-up BMP file. False when there
// is no image or the file could not be written completely; an existing file
// of that name is then left as it was.
bool ExportBitmap(const Codec &codec, const char *path);

}  // namespace plix
