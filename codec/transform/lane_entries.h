// The kernel table's block entries, made of one lane set's primitives: the
// same walk over rows and blocks for every set that holds a block as eight
// rows of eight 16-bit lanes (NEON, WebAssembly SIMD-128).
//
// A kernel file includes this inside its unnamed namespace, after defining
// V and LoadPixels, ForwardRows<bool>, QuantiseRows, Prepare, StoreRows,
// InverseToRows, StorePixels, Fill, DcSample, LoadRows<bool>, InverseRows,
// and the two colour stores: StoreRgbFlatChroma (Y rows, both chroma blocks
// one sample each) and StoreRgb (three blocks of rows). So each set keeps
// its own instructions and the walk is written once.
#ifndef PLIX_TRANSFORM_LANE_ENTRIES_H
#define PLIX_TRANSFORM_LANE_ENTRIES_H

namespace lane_entries {

inline void ForwardBlocks2Prepared(const uint8_t *pixels, size_t rowBytes,
                                   const QuantDivisors &luma, const QuantDivisors &chroma,
                                   PreparedBlock blocks[6]) {
    for (int half = 0; half < 2; ++half) {
        V c[3][8];
        LoadPixels(pixels + 32 * half, rowBytes, c);
        for (int k = 0; k < 3; ++k) {
            ForwardRows<true>(c[k]);
            QuantiseRows(c[k], k == 0 ? luma : chroma);
            Prepare(c[k], blocks[3 * half + k]);
        }
    }
}

inline void ForwardBlocks(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                          const QuantDivisors &chroma, int32_t blocks[3][64]) {
    V c[3][8];
    LoadPixels(pixels, rowBytes, c);
    for (int k = 0; k < 3; ++k) {
        ForwardRows<true>(c[k]);
        QuantiseRows(c[k], k == 0 ? luma : chroma);
        StoreRows(c[k], blocks[k]);
    }
}

inline void InverseDct(int32_t block[64]) {
    V r[8];
    InverseToRows(block, r);
    StoreRows(r, block);
}

inline void InverseBlocks(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    V c[3][8];
    for (int k = 0; k < 3; ++k) InverseToRows(blocks[k], c[k]);
    StorePixels(c, pixels, rowBytes);
}

inline void InverseDecoded2(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels,
                            size_t rowBytes, const YccToRgbTables *tables) {
    // Straight from the decoder: AC entries not yet limited, and the blocks
    // marked in dcOnly hold anything beyond entry 0 (which is limited).
    for (int half = 0; half < 2; ++half) {
        V c[3][8];
        for (int k = 0; k < 3; ++k) {
            const int32_t *b = blocks[3 * half + k];
            if ((dcOnly >> (3 * half + k)) & 1) {
                Fill(c[k], DcSample(b[0]));
            } else {
                LoadRows<true>(b, c[k]);
                InverseRows(c[k]);
            }
        }
        uint8_t *p = pixels + 32 * half;
        if (!tables) {
            StorePixels(c, p, rowBytes);
        } else if (((dcOnly >> (3 * half + 1)) & (dcOnly >> (3 * half + 2)) & 1) != 0) {
            // Converted from the rows as they are, in the same pass. Where
            // both chroma blocks are DC only, the offsets are the same for
            // all 64 pixels: found once, then added to Y.
            StoreRgbFlatChroma(c[0], DcSample(blocks[3 * half + 1][0]),
                               DcSample(blocks[3 * half + 2][0]), p, rowBytes);
        } else {
            StoreRgb(c, p, rowBytes);
        }
    }
}

// The five block entries of the table, from this file's lane set.
inline void InstallInto(Dsp &dsp) {
    dsp.inverseDct = InverseDct;
    dsp.forwardBlocks = ForwardBlocks;
    dsp.inverseBlocks = InverseBlocks;
    dsp.forwardBlocks2Prepared = ForwardBlocks2Prepared;
    dsp.inverseDecoded2 = InverseDecoded2;
}

}  // namespace lane_entries

#endif  // PLIX_TRANSFORM_LANE_ENTRIES_H
