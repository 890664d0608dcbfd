// Several codec objects encoding and decoding on several threads at once; the
// ThreadSanitizer build runs this to prove the shared tables and the kernel
// choice race-free.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "codec.h"

namespace plix {
namespace {

TEST(Threads, CodecsOnSeveralThreadsAgree) {
    constexpr int kThreads = 4;
    std::vector<std::string> files(kThreads);
    std::vector<std::vector<uint8_t>> decoded(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([t, &files, &decoded] {
            for (int round = 0; round < 3; ++round) {
                Codec c;  // constructed on this thread, racing the others
                if (!c.Picture().Create(37, 29)) return;
                for (int y = 0; y < 29; ++y)
                    for (int x = 0; x < 37; ++x)
                        c.Picture().SetPixel(x, y, static_cast<uint32_t>(x * 7 + y * 3) * 0x010203u);
                std::string plx;
                if (!c.EncodeMemory(plx, 0, 2, 0)) return;
                Codec d;
                if (!d.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size()))) return;
                files[t] = plx;
                decoded[t].assign(d.Picture().Pixels(),
                                  d.Picture().Pixels() + static_cast<size_t>(d.Picture().PaddedWidth()) *
                                                       d.Picture().PaddedHeight() * 4);
            }
        });
    }
    for (auto &th : pool) th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_FALSE(files[t].empty());
        EXPECT_EQ(files[t], files[0]);
        EXPECT_EQ(decoded[t], decoded[0]);
    }
}

}  // namespace
}  // namespace plix
