// The plain preparation of a block for the coder, which the transform's pair
// kernels call: it lives beside the format it fills, so that the transforms
// need nothing of the coder.
#include "coefficients.h"

namespace plix {

bool PrepareBlock(const int32_t block[64], PreparedBlock &out) {
    uint32_t marks = 0;
    for (int i = 0; i < 64; ++i) {
        const uint32_t t = ValueEntry(block[i]);
        if (i > 0) marks |= t;
        out.size[i] = static_cast<uint8_t>(t & 15);
        out.bits[i] = static_cast<uint16_t>(t >> 16);
    }
    out.nonZero = 0;
    for (int i = 0; i < 64; ++i)
        out.nonZero |= static_cast<uint64_t>(block[ZigzagOrder[i]] != 0) << i;
    out.dc = block[0];
    return (marks & kOutOfRange) == 0;
}

}  // namespace plix
