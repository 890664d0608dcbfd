// Bit streams as strings of '0' and '1', for tests of the coders.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "entropy/huffman.h"
#include "streams.h"

namespace plix::test {

// Bits written by fn, exactly: a 1 sentinel follows them, and it and the
// zero padding after it are cut off again.
template <typename Fn>
std::string WrittenBits(Fn fn) {
    std::string bytes;
    StreamWriter w;
    EXPECT_TRUE(w.OpenMemory(&bytes));
    fn(w);
    w.WriteBits(1, 1);
    w.Flush();
    EXPECT_TRUE(w.Close());
    std::string bits;
    for (unsigned char b : bytes)
        for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
    return bits.substr(0, bits.find_last_of('1'));
}

// The code of one symbol.
inline std::string SymbolBits(int symbol, int cls, bool ac) {
    return WrittenBits([&](StreamWriter &w) { WriteSymbol(w, symbol, cls, ac); });
}

// Bytes holding bits, most significant first, the last byte padded with 0.
inline std::string Pack(const std::string &bits) {
    std::string bytes((bits.size() + 7) / 8, '\0');
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') bytes[i / 8] = static_cast<char>(bytes[i / 8] | (0x80 >> (i % 8)));
    return bytes;
}

}  // namespace plix::test
