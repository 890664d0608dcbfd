// Each band starts from the predictors of the position before it, which
// depend only on that position's pixels; so bands need nothing from each
// other until their bits are joined in order.
#include "band_encoder.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "recycled.h"
#include "streams.h"
#include "strips.h"
#include "threads.h"

namespace plix {

namespace {

struct Band {
    int64_t first = 0, count = 0;  // strips, counted from the encoder's next one
    BandBytes *bytes = nullptr;
    uint64_t bits = 0;
    StripEncoder::Mark end{};
    bool ok = true;
};

// A byte a pixel is more than photographs take at any q-factor: the bits
// seldom move (the room is only touched where written).
uint64_t ExpectedBytes(int64_t strips, size_t rowBytes) {
    return static_cast<uint64_t>(strips) * rowBytes * 2;
}

}  // namespace

void BandBytes::Grow(size_t need) {
    RecycledArray<uint8_t> grown(need);
    if (size_ > 0) std::memcpy(grown.get(), block_.get(), size_);
    block_ = std::move(grown);
    capacity_ = need;
}

void BandBytes::Reserve(size_t n) {
    if (n > capacity_ - size_) {
        if (n > SIZE_MAX / 4 - size_) throw std::bad_alloc();
        Grow(size_ + n);
    }
}

void BandBytes::Expect(size_t n) {
    try {
        Reserve(n);
    } catch (const std::bad_alloc &) {
        // (only a hint: Put grows as it must)
    }
}

bool BandBytes::Put(const void *data, size_t n) {
    try {
        if (n > capacity_ - size_) Reserve(std::max(capacity_, n));
    } catch (const std::bad_alloc &) {
        return false;
    }
    std::memcpy(block_.get() + size_, data, n);
    size_ += n;
    return true;
}

std::vector<int64_t> PlanBands(int64_t count, unsigned threads) {
    const int64_t t = std::max<int64_t>(1, std::min(threads, kMaxThreads));
    const int64_t least = std::max<int64_t>(1, count / (32 * t));
    std::vector<int64_t> starts{0};
    for (int64_t at = 0; at < count;) {
        const int64_t left = count - at;
        at += std::min(left, std::max(least, (left + 2 * t - 1) / (2 * t)));
        starts.push_back(at);
    }
    return starts;
}

bool BandsPayOff(int64_t strips, int32_t paddedWidth, unsigned threads, int64_t minPixels) {
    return threads > 1 && strips >= 2 && strips * 8 * int64_t{paddedWidth} >= minPixels;
}

bool EncodeStripsInBands(const PlixHeader &header, const Dsp &k, StripEncoder &encoder,
                         StreamWriter &w, int64_t count, const StripFill &fill, unsigned threads,
                         BandScratch *scratch) {
    if (count <= 0) return true;
    const int64_t firstStrip = encoder.Top() / 8;
    const size_t rowBytes = static_cast<size_t>(encoder.PaddedWidth()) * 4;
    std::vector<Band> bands;
    std::vector<int64_t> starts;
    BandScratch own;
    BandScratch &kept = scratch ? *scratch : own;
    std::vector<RecycledArray<uint8_t>> &rows = kept.rows;
    std::unique_ptr<std::atomic<bool>[]> done;
    std::unique_ptr<StripEncoder> direct;
    size_t bandCount = 0;
    unsigned workers = 1;
    try {
        starts = PlanBands(count, threads);
        bandCount = starts.size() - 1;
        workers = WorkersFor(threads, bandCount);
        if (kept.rowBytes != rowBytes) {
            rows.clear();
            kept.rowBytes = rowBytes;
        }
        if (kept.bits.size() < bandCount) kept.bits.resize(bandCount);
        bands.resize(bandCount);
        for (size_t b = 0; b < bandCount; ++b) {
            bands[b].first = starts[b];
            bands[b].count = starts[b + 1] - starts[b];
            bands[b].bytes = &kept.bits[b];
            bands[b].bytes->Clear();
        }
        // The bands' room is taken here, on the calling thread: memory a
        // worker takes comes from its own arena, which hands freed pages back
        // at once, so each call would fault them in anew.
        for (size_t b = 1; b < bandCount; ++b)
            bands[b].bytes->Reserve(static_cast<size_t>(ExpectedBytes(bands[b].count, rowBytes)));
        // (A strip kept from before holds 0xFF in its padding, as a new one.)
        while (rows.size() < workers) {
            rows.emplace_back(rowBytes * 8);
            std::memset(rows.back().get(), 0xFF, rowBytes * 8);
        }
        done.reset(new std::atomic<bool>[bandCount]);
        for (size_t b = 0; b < bandCount; ++b) done[b].store(false, std::memory_order_relaxed);
        direct = std::make_unique<StripEncoder>(header, k);
    } catch (const std::bad_alloc &) {
        return false;
    }
    // From here on nothing may fail half-way: what is written to w stays.
    const StripEncoder::Mark start = encoder.Here();
    std::atomic<size_t> next{1};
    Signal signal;
    // Band b (not the first) into its own bit string.
    const auto code = [&](size_t b, uint8_t *strip) {
        Band &band = bands[b];
        try {
            StripEncoder strips(header, k);
            fill(firstStrip + band.first - 1, strip, encoder.PaddedWidth() - 8);
            strips.ResumeAfter(strip, rowBytes, (firstStrip + band.first) * 8);
            StreamWriter out;
            out.OpenSink(band.bytes);
            out.Expect(ExpectedBytes(band.count, rowBytes));
            for (int64_t s = 0; s < band.count; ++s) {
                fill(firstStrip + band.first + s, strip, 0);
                strips.Next(out, strip, rowBytes, strip);
            }
            band.bits = out.BitsWritten();
            out.Flush();
            band.ok = out.Close();
            band.end = strips.Here();
        } catch (...) {
            band.ok = false;
        }
        done[b].store(true, std::memory_order_release);
        signal.Tell();
    };
    // Only thread 0 writes to w (whose sink may be the caller's): the first
    // band straight, then each band's bits as soon as those before are in,
    // so that joining overlaps the coding of the bands after.
    bool straightOn = false;  // (a band still being coded may not be read)
    const auto first = [&] {
        uint8_t *const strip = rows[0].get();
        const auto codeDirect = [&](int64_t from, int64_t to) {
            for (int64_t s = from; s < to; ++s) {
                fill(firstStrip + s, strip, 0);
                direct->Next(w, strip, rowBytes, strip);
            }
        };
        direct->Resume(start);
        codeDirect(0, bands[0].count);
        bands[0].end = direct->Here();
        size_t joined = 1;
        while (joined < bandCount) {
            if (done[joined].load(std::memory_order_acquire)) {
                const Band &band = bands[joined];
                if (!band.ok) {
                    // Short of memory for its bits: the rest straight on here.
                    next.store(bandCount, std::memory_order_relaxed);
                    direct->Resume(bands[joined - 1].end);
                    codeDirect(band.first, count);
                    straightOn = true;
                    break;
                }
                w.WriteBitString(band.bytes->Data(), band.bits);
                ++joined;
                continue;
            }
            const size_t b = next.fetch_add(1, std::memory_order_relaxed);
            if (b < bandCount)
                code(b, strip);
            else
                signal.Wait([&] { return done[joined].load(std::memory_order_acquire); });
        }
    };
    RunTogether(workers, [&](unsigned t) {
        if (t == 0) {
            first();
            return;
        }
        for (size_t b; (b = next.fetch_add(1, std::memory_order_relaxed)) < bandCount;)
            code(b, rows[t].get());
    });
    encoder.Resume(straightOn ? direct->Here() : bands.back().end);
    return true;
}

}  // namespace plix
