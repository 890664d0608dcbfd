// The plain block kernels: one position at a time in portable code, and the
// two-position entries made of them.
#include "transform/kernels.h"

#include "transform/colour.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/pair_kernels.h"

namespace plix {

namespace {

// Pixel byte that holds each component.
constexpr int kByteOf[3] = {2, 1, 0};

}  // namespace

void ForwardBlocksPlain(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, int32_t blocks[3][64]) {
    for (int r = 0; r < 8; ++r) {
        const uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        for (int c = 0; c < 8; ++c, p += 4) {
            for (int k = 0; k < 3; ++k) blocks[k][r * 8 + c] = int32_t{p[kByteOf[k]]} - 128;
        }
    }
    ForwardDctQuantise(blocks[0], luma);
    ForwardDctQuantise(blocks[1], chroma);
    ForwardDctQuantise(blocks[2], chroma);
}

void InverseBlocksPlain(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    for (int k = 0; k < 3; ++k) InverseDct(blocks[k]);
    for (int r = 0; r < 8; ++r) {
        uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        for (int c = 0; c < 8; ++c, p += 4) {
            for (int k = 0; k < 3; ++k) p[kByteOf[k]] = static_cast<uint8_t>(blocks[k][r * 8 + c]);
            p[3] = 0xFF;
        }
    }
}

void ForwardBlocks2PreparedPlain(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                 const QuantDivisors &chroma, PreparedBlock blocks[6]) {
    ForwardPairPrepared<ForwardBlocksPlain>(pixels, rowBytes, luma, chroma, blocks);
}

void InverseDecoded2Plain(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                          const YccToRgbTables *tables) {
    InverseDecodedPair<InverseBlocksPlain, ConvertYccToRgb>(blocks, dcOnly, pixels, rowBytes,
                                                            tables);
}

}  // namespace plix
