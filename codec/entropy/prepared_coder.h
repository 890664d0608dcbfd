// The prepared-block coder, for each file that builds it: the block encoder
// (plain) and the kernel files, whose instruction sets give its shifts and bit
// scans shorter forms. Everything is in an unnamed namespace, so each file
// keeps its own copy built with its own flags.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "coefficients.h"
#include "entropy/block_encoder.h"
#include "entropy/huffman.h"
#include "entropy/symbols.h"
#include "platform/byte_order.h"
#include "streams.h"

namespace plix {
namespace {

// Stores bits without branches. Symbols are added to a right-aligned
// accumulator, and Flush writes eight bytes at out and moves on by the whole
// bytes completed, so one store serves two symbols. The room one block needs
// is at most 170 bytes: 7 pending bits, a DC of at most 17 bits, 63 codes of
// at most 20 bits with their value bits (zero runs take fewer), an end of
// block, and the 8 bytes of the last store.
constexpr int kBlockRoom = 192;

class BitPacker {
public:
    // bits: pending bits, left-aligned, the rest 0; count: their number, below 8.
    BitPacker(uint8_t *out, uint64_t bits, int count)
        : out_(out), acc_((bits >> 1) >> (63 - count)), count_(static_cast<unsigned>(count)) {}

    // bits must not exceed length bits. Between flushes at most 57 bits may
    // be added (the accumulator keeps up to 7 more).
    void Add(uint64_t bits, unsigned length) {
        acc_ = (acc_ << length) | bits;
        count_ += length;
    }
    // The rotation puts the pending bits on top; below them come bits left
    // over from earlier symbols, which land only in bytes that the next store
    // replaces (or that are never handed over).
    void Flush() {
        platform::StoreBe64(out_, std::rotr(acc_, static_cast<int>(count_)));
        out_ += count_ >> 3;
        count_ &= 7;
    }
    // An entry of HuffmanTables::packedCodes with its value bits.
    void AddCoded(uint32_t entry, uint32_t valueBits) {
        Add((entry >> 8) | valueBits, entry & 0xFF);
    }

    uint8_t *out() const { return out_; }
    int count() const { return static_cast<int>(count_); }
    // The pending bits left-aligned, the rest 0; only right after Flush.
    uint64_t bits() const { return count_ > 0 ? acc_ << (64 - count_) : 0; }
    StreamWriter::ByteCursor Cursor(uint8_t *limit) const { return {bits(), count(), out_, limit}; }

private:
    uint8_t *out_;
    uint64_t acc_;    // pending bits in the low count_ bits
    unsigned count_;  // below 8 after each flush
};

// HuffmanTables::packedCodes split into the code (shifted over the value
// bits) and the length, so that the symbol loop needs no unpacking.
struct CodeParts {
    uint32_t code[1024];
    uint8_t length[1024];
};

// Made on first use, so that coding from another file's static
// initialisation still finds it.
inline const CodeParts &GetCodeParts() {
    static const CodeParts parts = [] {
        CodeParts t{};
        for (int i = 0; i < 1024; ++i) {
            t.code[i] = kHuffmanTables.packedCodes[i] >> 8;
            t.length[i] = static_cast<uint8_t>(kHuffmanTables.packedCodes[i] & 0xFF);
        }
        return t;
    }();
    return parts;
}

// Category and value bits of one coefficient.
struct SizeBits {
    uint64_t size;
    uint32_t bits;
};

// The AC symbols of a block whose non-zero zigzag positions 1..63 are the
// bits of nonZero, and the end of block, after a symbol already added (the
// DC). lookup(i) gives the SizeBits of zigzag position i. Two symbols go into
// each store; a run of 16 zeros or more, which is rare where symbols are
// many, takes stores of its own.
template <class Lookup>
inline void CodeAc(BitPacker &out, const CodeParts &parts, uint64_t nonZero, int cls,
                   Lookup lookup) {
    const uint32_t *code = parts.code + cls * 512 + 256;
    const uint8_t *length = parts.length + cls * 512 + 256;
    // Indices as 64-bit values spare the loop their widening.
    uint64_t next = 1;  // the position after the last one coded
    auto symbol = [&]() {
        const uint64_t pos = static_cast<unsigned>(std::countr_zero(nonZero));
        nonZero &= nonZero - 1;
        uint64_t run = pos - next;
        next = pos + 1;
        if (run >= 16) [[unlikely]] {
            // Up to three 12-bit runs fit with what is pending after a flush.
            out.Flush();
            for (; run >= 16; run -= 16) out.Add(code[kZeroRun16], length[kZeroRun16]);
            out.Flush();
        }
        const SizeBits v = lookup(pos);
        out.Add(code[run * 16 + v.size] | v.bits, length[run * 16 + v.size]);
    };
    while (nonZero != 0) {
        symbol();
        out.Flush();
        if (nonZero == 0) break;
        symbol();
    }
    // Trailing zeros, however many, are one end-of-block symbol; whether
    // there are any is close to random at some q-factors.
    const bool end = next < 64;
    out.Add(end ? code[kEndOfBlock] : 0, end ? length[kEndOfBlock] : 0);
    out.Flush();
}

// A prepared block after its DC entry t was looked up, its entries in
// kOrder.
template <PreparedOrder kOrder>
inline void CodePrepared(BitPacker &out, const CodeParts &parts, const PreparedBlock &b, int cls,
                         uint32_t t) {
    out.AddCoded(kHuffmanTables.packedCodes[cls * 512 + (t & 15)], t >> 16);
    CodeAc(out, parts, b.nonZero & ~uint64_t{1}, cls, [&b](unsigned i) {
        const unsigned z = PreparedIndex(kOrder, i);
        return SizeBits{b.size[z], b.bits[z]};
    });
}

constexpr int kClassOfComponent[3] = {0, 1, 1};

// EncodePreparedPositions (entropy/kernels.h), for blocks in kOrder.
template <PreparedOrder kOrder>
inline void CodePreparedPositions(StreamWriter &w, const PreparedBlock *blocks, int positions,
                                  int32_t predictors[3]) {
    const CodeParts &parts = GetCodeParts();
    const int count = 3 * positions;
    int i = 0;
    while (i < count) {
        const StreamWriter::ByteCursor start = w.TakeBytes();
        // As many blocks as the buffer surely holds go straight in; at its
        // very end one block goes through a buffer of its own.
        const ptrdiff_t room = (start.limit - start.out) / kBlockRoom;
        if (room == 0) {
            w.PutBytes(start);
            EncodePreparedBlock(w, blocks[i], kClassOfComponent[i % 3], predictors[i % 3], kOrder);
            ++i;
            continue;
        }
        const int end = room < count - i ? i + static_cast<int>(room) : count;
        BitPacker out(start.out, start.bits, start.count);
        for (; i < end; ++i) {
            const PreparedBlock &b = blocks[i];
            int32_t &predictor = predictors[i % 3];
            const int32_t diff = static_cast<int32_t>(static_cast<uint32_t>(b.dc) -
                                                      static_cast<uint32_t>(predictor));
            const uint32_t t = ValueEntry(diff);
            if (t & kOutOfRange) break;
            CodePrepared<kOrder>(out, parts, b, kClassOfComponent[i % 3], t);
            predictor = b.dc;
        }
        w.PutBytes(out.Cursor(start.limit));
        if (i < end) {
            // A DC difference no symbol codes: the plain coder writes what it can.
            EncodePreparedBlock(w, blocks[i], kClassOfComponent[i % 3], predictors[i % 3], kOrder);
            ++i;
        }
    }
}

}  // namespace
}  // namespace plix
