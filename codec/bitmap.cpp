// BMP files: import into the pixel buffer, export of the decoded image.
#include "codec.h"

namespace plix {

int32_t Codec::DecodeToBitmapFile(const char *, const char *) { return 0; }

int32_t Codec::EncodeBitmapFile(const char *, const char *, int32_t, int32_t, int32_t) { return 0; }

} // namespace plix
