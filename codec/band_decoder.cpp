// Lanes: lane k reads the stream from byte k/n of it on. Each keeps the
// positions of its part (where each starts, its DC predictors counted from the
// lane's start, its blocks), then reads on past its part until a position of
// its own starts where one of the next lane's did: from that bit on, both
// lanes read the same symbols, so the next lane's positions from there are
// the true ones, their DCs off by what the predictors were there. Joining
// the lanes in order gives every position its place and its DCs; what the
// lanes did not reach (the filler after a truncated stream) is read on from
// the last one.
#include "band_decoder.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "format.h"
#include "streams.h"
#include "strips.h"
#include "threads.h"

namespace plix {

namespace {

// Lanes shorter than this, or pictures smaller, would not pay for the
// threads' start and the lanes' falling into step.
constexpr size_t kMinLaneBytes = 16 << 10;
constexpr int64_t kMinPixels = 256 * 256;
constexpr size_t kNone = SIZE_MAX;

struct Kept {
    uint64_t at;     // bit of the body where the position starts
    int32_t dc[3];   // DC predictors after it, counted from the lane's start
    uint32_t dcOnly;
    size_t ac;       // its first block with AC coefficients in the lane's store
};

struct Positions {
    std::vector<Kept> kept;
    std::vector<int16_t> ac;  // 64 entries per block with AC coefficients
    uint64_t endAt = 0;       // where the position after the last one starts
    int32_t endDc[3] = {0, 0, 0};
    bool read = false;
};

struct Lane {
    uint64_t from = 0, to = 0;  // its part: positions starting in [from, to)
    Positions own, over;        // its part's positions, and those read past it
    size_t met = kNone;         // the position of own where the lane before fell into step
    bool failed = false;

    size_t Count() const { return own.kept.size() + over.kept.size(); }
    const Kept &At(size_t i) const {
        return i < own.kept.size() ? own.kept[i] : over.kept[i - own.kept.size()];
    }
    const int16_t *Blocks(size_t i) const {
        return i < own.kept.size() ? own.ac.data() + own.kept[i].ac
                                   : over.ac.data() + over.kept[i - own.kept.size()].ac;
    }
    // Where position i starts; Count() gives where the last one ended.
    uint64_t Start(size_t i) const {
        if (i < Count()) return At(i).at;
        return over.read ? over.endAt : own.endAt;
    }
};

class Reading {
public:
    Reading(const uint8_t *body, size_t size, uint8_t filler)
        : body_(body), size_(size), filler_(filler) {}

    // Reads positions into out from bit at on with predictors dc, while
    // more(at of the next) holds and fewer than cap are kept.
    template <class More>
    void Read(StripDecoder &d, uint64_t at, const int32_t dc[3], Positions &out, size_t cap,
              More more) const {
        StreamReader r;
        const uint64_t byte = std::min<uint64_t>(at / 8, size_);
        r.OpenRegion(byte < size_ ? body_ + byte : nullptr, static_cast<size_t>(size_ - byte),
                     filler_);
        for (uint64_t skip = at - byte * 8; skip > 0;) {
            const int n = static_cast<int>(std::min<uint64_t>(skip, 32));
            r.Refill();
            r.Skip(n);
            skip -= static_cast<uint64_t>(n);
        }
        int32_t p[3] = {dc[0], dc[1], dc[2]};
        alignas(32) int16_t blocks[3][64];
        for (;;) {
            at = byte * 8 + r.BitsTaken();
            if (out.kept.size() >= cap || !more(at)) break;
            Kept k;
            k.at = at;
            k.dcOnly = d.DecodePosition(r, p, blocks);
            k.ac = out.ac.size();
            for (int c = 0; c < 3; ++c) {
                k.dc[c] = p[c];
                if (!(k.dcOnly >> c & 1)) out.ac.insert(out.ac.end(), blocks[c], blocks[c] + 64);
            }
            out.kept.push_back(k);
        }
        out.endAt = at;
        for (int c = 0; c < 3; ++c) out.endDc[c] = p[c];
        out.read = true;
    }

    // Whole blocks of a strip starting at bit at with predictors, within the
    // data: as the one-thread decoder counts them where the data ends.
    uint64_t WholeBlocks(uint64_t at, const int32_t predictors[3], uint64_t blocks) const {
        const uint64_t start = at / 8;
        const uint64_t have = size_ > start ? size_ - start : 0;
        StreamReader r;
        r.OpenRegion(have > 0 ? body_ + start : nullptr, static_cast<size_t>(have), filler_);
        for (uint64_t i = 0; i < at % 8; ++i) r.ReadBit();
        return CountBlocksWithin(r, blocks, predictors, have * 8);
    }

private:
    const uint8_t *body_;
    size_t size_;
    uint8_t filler_;
};

// Positions first to first + count of a lane (or of the tail) at abs.
struct Piece {
    const Lane *lane;
    size_t first;
    uint64_t count;
    uint64_t abs;
    int32_t offset[3];  // true predictors minus the lane's count
};

int32_t Plus(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, const StripOut &out, BandOutcome &outcome) {
    const int64_t columns = header.BlockColumns();
    const int64_t strips = header.BlockRows();
    const uint64_t total = static_cast<uint64_t>(columns) * static_cast<uint64_t>(strips);
    const unsigned lanes = WorkersFor(threads, size / kMinLaneBytes);
    if (lanes < 2 || strips < 2 || columns * strips * 64 < kMinPixels) return false;
    const Reading reading(body, size, filler);
    try {
        std::vector<Lane> lane(lanes);
        for (unsigned i = 0; i < lanes; ++i) {
            lane[i].from = uint64_t{size} * i / lanes * 8;
            lane[i].to = i + 1 < lanes ? uint64_t{size} * (i + 1) / lanes * 8 : uint64_t{size} * 8;
        }
        lane[0].met = 0;
        const size_t cap = static_cast<size_t>(total);
        // Each lane its part, the first from the true start, the others from
        // a guess.
        ForEachItem(lanes, lanes, [&](size_t i, unsigned) {
            Lane &l = lane[i];
            try {
                StripDecoder d(header, k);
                // Room for a share of the positions a little above the bytes'
                // share, so that the stores seldom move.
                const size_t guess = static_cast<size_t>(
                    std::min<uint64_t>(total, total * (l.to - l.from) / (uint64_t{size} * 8) * 5 / 4 + 1024));
                l.own.kept.reserve(guess);
                l.own.ac.reserve(guess * 3 * 64);
                const int32_t zero[3] = {0, 0, 0};
                reading.Read(d, l.from, zero, l.own, cap, [&](uint64_t at) { return at < l.to; });
            } catch (...) {
                l.failed = true;
            }
        });
        for (const Lane &l : lane)
            if (l.failed) return false;
        // Each lane but the last reads on until it falls into step with the
        // next one.
        ForEachItem(lanes, lanes - 1, [&](size_t i, unsigned) {
            Lane &l = lane[i];
            Lane &next = lane[i + 1];
            const std::vector<Kept> &theirs = next.own.kept;
            size_t j = 0;
            try {
                StripDecoder d(header, k);
                reading.Read(d, l.own.endAt, l.own.endDc, l.over, cap - l.own.kept.size(),
                             [&](uint64_t at) {
                                 while (j < theirs.size() && theirs[j].at < at) ++j;
                                 if (j < theirs.size()) {
                                     if (theirs[j].at != at) return true;
                                     next.met = j;
                                 } else if (at == next.own.endAt) {
                                     next.met = j;
                                 }
                                 return false;
                             });
            } catch (...) {
                l.failed = true;
            }
        });
        for (const Lane &l : lane)
            if (l.failed) return false;

        // The join: every position's lane and the true predictors.
        std::vector<Piece> pieces;
        uint64_t abs = 0;
        int32_t predictors[3] = {0, 0, 0};
        uint64_t endAt = 0;
        for (unsigned i = 0; i < lanes && abs < total; ++i) {
            const Lane &l = lane[i];
            if (l.met == kNone) return false;  // never in step: one thread reads it all
            Piece piece{&l, l.met, 0, abs, {}};
            for (int c = 0; c < 3; ++c)
                piece.offset[c] = static_cast<int32_t>(
                    static_cast<uint32_t>(predictors[c]) -
                    static_cast<uint32_t>(l.met > 0 ? l.At(l.met - 1).dc[c] : 0));
            piece.count = std::min<uint64_t>(l.Count() - l.met, total - abs);
            abs += piece.count;
            const size_t last = l.met + static_cast<size_t>(piece.count);
            endAt = l.Start(last);
            if (last > 0)
                for (int c = 0; c < 3; ++c) predictors[c] = Plus(l.At(last - 1).dc[c], piece.offset[c]);
            pieces.push_back(piece);
        }
        // The rest (from the filler, after a stream that ends early) on this
        // thread.
        Lane tail;
        if (abs < total) {
            StripDecoder d(header, k);
            reading.Read(d, endAt, predictors, tail.own, static_cast<size_t>(total - abs),
                         [](uint64_t) { return true; });
            tail.met = 0;
            pieces.push_back(Piece{&tail, 0, total - abs, abs, {0, 0, 0}});
            endAt = tail.own.endAt;
        }

        // Where position p starts, and its true DCs.
        const auto find = [&](uint64_t p) -> const Piece & {
            return *std::prev(std::upper_bound(pieces.begin(), pieces.end(), p,
                                               [](uint64_t v, const Piece &x) { return v < x.abs; }));
        };
        const auto start = [&](uint64_t p) {
            if (p >= total) return endAt;
            const Piece &x = find(p);
            return x.lane->Start(x.first + static_cast<size_t>(p - x.abs));
        };
        // The outcome as the one-thread decoder finds it: the first strip that
        // ends past the data has its whole blocks counted.
        const uint64_t perStrip = 3 * static_cast<uint64_t>(columns);
        outcome = BandOutcome{false, perStrip * static_cast<uint64_t>(strips)};
        for (int64_t s = 0; s < strips; ++s) {
            const uint64_t first = static_cast<uint64_t>(s * columns);
            if (start(first + static_cast<uint64_t>(columns)) <= uint64_t{size} * 8) continue;
            int32_t before[3] = {0, 0, 0};
            if (first > 0) {
                const Piece &x = find(first - 1);
                const Kept &kept = x.lane->At(x.first + static_cast<size_t>(first - 1 - x.abs));
                for (int c = 0; c < 3; ++c) before[c] = Plus(kept.dc[c], x.offset[c]);
            }
            outcome.truncated = true;
            outcome.blocksPresent = perStrip * static_cast<uint64_t>(s) +
                                    reading.WholeBlocks(start(first), before, perStrip);
            break;
        }

        // The pixels, a strip at a time on every thread.
        const unsigned workers = WorkersFor(threads, static_cast<size_t>(strips));
        const size_t rowBytes = static_cast<size_t>(columns) * 32;
        std::vector<std::unique_ptr<uint8_t[]>> rows(workers);
        std::vector<std::vector<StripDecoder::Stored>> stored(workers);
        for (unsigned w = 0; w < workers; ++w) {
            rows[w].reset(new uint8_t[rowBytes * 8]);
            stored[w].resize(static_cast<size_t>(columns));
        }
        ForEachItem(workers, static_cast<size_t>(strips), [&](size_t s, unsigned w) {
            StripDecoder d(header, k);
            for (int64_t x = 0; x < columns; ++x) {
                const uint64_t p = static_cast<uint64_t>(s) * static_cast<uint64_t>(columns) +
                                   static_cast<uint64_t>(x);
                const Piece &piece = find(p);
                const size_t i = piece.first + static_cast<size_t>(p - piece.abs);
                const Kept &kept = piece.lane->At(i);
                const int16_t *blocks = piece.lane->Blocks(i);
                StripDecoder::Stored &out = stored[w][static_cast<size_t>(x)];
                out.dcOnly = kept.dcOnly;
                for (int c = 0; c < 3; ++c) {
                    out.dc[c] = Plus(kept.dc[c], piece.offset[c]);
                    out.blocks[c] = blocks;
                    if (!(kept.dcOnly >> c & 1)) blocks += 64;
                }
            }
            d.Rebuild(stored[w].data(), static_cast<int64_t>(s) * 8, rows[w].get(), rowBytes);
            out(static_cast<int64_t>(s), rows[w].get(), rowBytes);
        });
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace plix
