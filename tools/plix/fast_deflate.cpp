#include "fast_deflate.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace plix::tool {

namespace {

constexpr int kLitCodes = 257;  // bytes and the end of the block

// Bits into bytes, the first bit lowest, as deflate wants them. The output
// has 8 spare bytes, so a whole word is stored at a time.
class BitWriter {
public:
    explicit BitWriter(uint8_t *out) : out_(out) {}
    void Put(uint64_t code, int length) {
        bits_ |= code << count_;
        count_ += length;
        Flush();
    }
    // Whole bytes out, fewer than 8 bits left.
    void Flush() {
        std::memcpy(out_, &bits_, 8);
        out_ += count_ >> 3;
        bits_ = (count_ & ~7) == 64 ? 0 : bits_ >> (count_ & ~7);
        count_ &= 7;
    }
    void AlignToByte() {
        if (count_ > 0) Put(0, 8 - count_);
    }
    uint8_t *End() const { return out_; }
    uint64_t bits_ = 0;
    int count_ = 0;
    uint8_t *out_;
};

// Lengths of a Huffman code for freq, none longer than maxBits; symbols of
// frequency 0 get none. Frequencies are halved until the code fits.
void CodeLengths(std::vector<uint32_t> freq, int maxBits, uint8_t *lengths) {
    const size_t n = freq.size();
    std::vector<size_t> used;
    for (size_t i = 0; i < n; ++i)
        if (freq[i]) used.push_back(i);
    std::fill(lengths, lengths + n, 0);
    if (used.size() == 1) {
        // A code of one symbol still needs a bit; a second, unused, completes it.
        lengths[used[0]] = 1;
        lengths[used[0] == 0 ? 1 : 0] = 1;
        return;
    }
    for (;;) {
        // Two-queue Huffman over the sorted leaves.
        std::sort(used.begin(), used.end(), [&](size_t a, size_t b) {
            return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
        });
        const size_t leaves = used.size();
        std::vector<uint64_t> weight(2 * leaves);
        std::vector<size_t> parent(2 * leaves, 0);
        for (size_t i = 0; i < leaves; ++i) weight[i] = freq[used[i]];
        size_t leaf = 0, node = leaves, made = leaves;
        auto take = [&] {
            if (leaf < leaves && (node >= made || weight[leaf] <= weight[node])) return leaf++;
            return node++;
        };
        while (made < 2 * leaves - 1) {
            const size_t a = take(), b = take();
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made;
            ++made;
        }
        // Depths from the root (the last node) down.
        std::vector<int> depth(2 * leaves - 1, 0);
        int deepest = 0;
        for (size_t i = 2 * leaves - 2; i-- > 0;) {
            depth[i] = depth[parent[i]] + 1;
            if (i < leaves) deepest = std::max(deepest, depth[i]);
        }
        if (deepest <= maxBits) {
            for (size_t i = 0; i < leaves; ++i) lengths[used[i]] = static_cast<uint8_t>(depth[i]);
            return;
        }
        for (size_t s : used) freq[s] = (freq[s] + 1) / 2;
    }
}

// Canonical codes for lengths, bit-reversed for deflate's order.
void Codes(const uint8_t *lengths, size_t n, uint16_t *codes) {
    int count[16] = {};
    for (size_t i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    int next[16] = {};
    for (int bits = 1, code = 0; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (size_t i = 0; i < n; ++i) {
        const int len = lengths[i];
        if (!len) continue;
        uint32_t c = static_cast<uint32_t>(next[len]++), r = 0;
        for (int b = 0; b < len; ++b, c >>= 1) r = r << 1 | (c & 1);
        codes[i] = static_cast<uint16_t>(r);
    }
}

}  // namespace

size_t FastDeflate(const uint8_t *data, size_t size, bool last, uint8_t *out) {
    // Four histograms side by side: fewer stalls on repeated bytes.
    uint32_t h[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++h[0][data[i]];
        ++h[1][data[i + 1]];
        ++h[2][data[i + 2]];
        ++h[3][data[i + 3]];
    }
    for (; i < size; ++i) ++h[0][data[i]];
    std::vector<uint32_t> freq(kLitCodes);
    for (int s = 0; s < 256; ++s) freq[s] = h[0][s] + h[1][s] + h[2][s] + h[3][s];
    freq[256] = 1;
    uint8_t lengths[kLitCodes + 1];
    CodeLengths(freq, 15, lengths);
    lengths[kLitCodes] = 1;  // one distance code, never used
    uint16_t codes[kLitCodes];
    Codes(lengths, kLitCodes, codes);

    // The code lengths' own code, lengths of at most 7 bits.
    std::vector<uint32_t> clFreq(19, 0);
    for (int s = 0; s <= kLitCodes; ++s) ++clFreq[lengths[s]];
    uint8_t clLengths[19];
    CodeLengths(clFreq, 7, clLengths);
    uint16_t clCodes[19];
    Codes(clLengths, 19, clCodes);
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
    int hclen = 19;
    while (hclen > 4 && clLengths[kOrder[hclen - 1]] == 0) --hclen;

    BitWriter w(out);
    w.Put(last ? 1 : 0, 1);
    w.Put(2, 2);                // dynamic Huffman codes
    w.Put(kLitCodes - 257, 5);  // HLIT
    w.Put(0, 5);                // HDIST: one distance code
    w.Put(static_cast<uint64_t>(hclen - 4), 4);
    for (int k = 0; k < hclen; ++k) w.Put(clLengths[kOrder[k]], 3);
    for (int s = 0; s <= kLitCodes; ++s) w.Put(clCodes[lengths[s]], clLengths[lengths[s]]);

    // Three codes of at most 15 bits between flushes fit the 64-bit word.
    uint64_t bits = w.bits_;
    int count = w.count_;
    uint8_t *o = w.out_;
    i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint8_t a = data[i], b = data[i + 1], c = data[i + 2];
        bits |= uint64_t{codes[a]} << count;
        count += lengths[a];
        bits |= uint64_t{codes[b]} << count;
        count += lengths[b];
        bits |= uint64_t{codes[c]} << count;
        count += lengths[c];
        std::memcpy(o, &bits, 8);
        o += count >> 3;
        bits >>= count & ~7;
        count &= 7;
    }
    w.bits_ = bits;
    w.count_ = count;
    w.out_ = o;
    for (; i < size; ++i) w.Put(codes[data[i]], lengths[data[i]]);
    w.Put(codes[256], lengths[256]);
    if (!last) {
        // An empty stored block brings the stream to a byte boundary.
        w.Put(0, 3);
        w.AlignToByte();
        w.Put(0x0000, 16);
        w.Put(0xFFFF, 16);
    }
    w.AlignToByte();
    return static_cast<size_t>(w.End() - out);
}

}  // namespace plix::tool
